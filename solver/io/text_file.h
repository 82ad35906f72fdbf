// Reading a whole input file into memory. Every reader of the solver (RAW
// case, options, contingency list, result files) goes through here, so a
// file that is missing, a directory or unreadable gets the same message
// whoever reads it.
#pragma once

#include <istream>
#include <string>

// The whole of `path` as bytes. Throws InputError(path, 0, ...):
//   "can not open the file"                     it does not exist or may not be opened
//   "can not read the file: it is a directory"  it is a directory
//   "can not read the file"                     a read fails part way
std::string read_text_file(const std::string &path);

// The rest of stream `in` as bytes; a read error is
// InputError(file, 0, "can not read the file").
std::string read_stream(std::istream &in, const std::string &file);
