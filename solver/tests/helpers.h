// What several solver test programs share: reading and writing whole files,
// editing a text at a pattern, and reading the rows of a CSV file.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The bytes of `path`; "" when it can not be read (a test then fails on
// what it expected to find).
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);

// `text` with the first `from` replaced by `to`; a failure when `from` is
// not in the text, which is then returned unchanged.
std::string replaced(std::string text, const std::string &from, const std::string &to);

// The records of a CSV text after its header line, quotes undone as the
// solver's readers undo them; a line that is not valid CSV is a failure.
std::vector<std::vector<std::string>> csv_rows(const std::string &text);
std::vector<std::vector<std::string>> read_csv(const std::string &path);

// "FILE:LINE: what" of the InputError that `f` throws, as vandrelsolve
// prints it; "" when `f` throws none.
std::string input_error_of(const std::function<void()> &f);
