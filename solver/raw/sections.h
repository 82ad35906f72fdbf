// Reading a RAW file into a RawCase (raw/raw.h): the entry points of the
// reader, which walks the file's sections in order (raw/sections.cpp).
#pragma once

#include "raw/raw.h"

#include <istream>
#include <string>

// Reads a RAW file of revision 23 to 36: the case identification's REV, or
// for a file without one the layout its bus records show; `rev` other than 0
// overrides both. Throws InputError naming the file and line. (The reader is
// raw/sections.cpp, raw/records.cpp, raw/fields.cpp and raw/checks.cpp;
// docs/architecture.md follows a file through them.)
RawCase read_raw(const std::string &path, int rev = 0);

// The same from a stream; `file` is the name used in messages.
RawCase parse_raw(std::istream &in, const std::string &file, int rev = 0);
