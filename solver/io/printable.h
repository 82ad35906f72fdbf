// Text read from the input, made safe to echo: messages and result files
// quote labels, ids, fields and paths as they were read, and a terminal
// must never take any of it for a control sequence.
#pragma once

#include <string>
#include <string_view>

// `s` with every byte that is a control or is not text written as \xNN (two
// lowercase hex digits): the C0 controls 0x00-0x1f and DEL 0x7f, both bytes
// of a C1 control U+0080-U+009F (c2 80 to c2 9f, which some terminals obey
// like ESC sequences), and each byte that is not part of well-formed UTF-8
// (no overlong forms, no surrogates, nothing above U+10FFFF). All else is
// kept as it is: ASCII, valid UTF-8 such as "é" or "€", and the backslash.
// An escape thus reads the same as its four characters typed into the
// input (the text can not be turned back), and printable(printable(s)) is
// printable(s).
std::string printable(std::string_view s);
