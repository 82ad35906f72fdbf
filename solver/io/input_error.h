// The one error type for bad input: what is wrong, and where (file and, when
// known, line). Thrown anywhere input is read or checked, caught in main, and
// printed there as "vandrelsolve: FILE:LINE: what is wrong".
#pragma once

#include "io/printable.h"

#include <stdexcept>
#include <string>

struct InputError : std::runtime_error {
    std::string file;
    int line; // 1-based; 0 when the problem belongs to no one line

    InputError(std::string file_, int line_, const std::string &what_)
        : std::runtime_error(what_), file(std::move(file_)), line(line_)
    {
    }
};

// "FILE:LINE: what" or "FILE: what", made printable: the file name and the
// message may quote the input, control bytes and all.
inline std::string where_what(const InputError &e)
{
    std::string s = e.file;
    if (e.line > 0) {
        s += ":" + std::to_string(e.line);
    }
    return printable(s + ": " + e.what());
}
