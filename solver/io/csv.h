// CSV as the solver writes and reads it: comma-separated fields, one record
// a line, a field in double quotes where it must be, "" standing for a quote
// inside one (RFC 4180 without line ends inside fields).
#pragma once

#include <string>
#include <vector>

// A CSV field: the text made printable (control bytes, line ends among
// them, and bytes that are not UTF-8 written as \xNN; see printable()),
// then quoted, with quotes doubled, where it holds a comma, a quote or
// blanks at either end.
std::string csv_text(const std::string &text);

// The fields of one CSV record (one line, its line end removed), quotes
// undone. False when a quote is left open or a quoted field is followed by
// anything but a comma.
bool csv_fields(const std::string &line, std::vector<std::string> &fields);
