// Writing an output file so that a reader sees either the old file or the
// whole new one, never a torn one: the text goes to a temporary file in the
// same directory, which is then renamed over the target. Several processes
// may write the same file; the temporary name carries the process id.
#pragma once

#include <string>

// Writes `text` to `path` through PATH.tmp.PID and a rename. Throws
// InputError(path, 0, "can not write the file") when it can not, leaving
// no temporary file behind.
void write_file_atomically(const std::string &path, const std::string &text);
