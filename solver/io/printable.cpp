#include "io/printable.h"

#include <cstddef>

namespace {

// Length of the well-formed UTF-8 sequence that starts at s[i] (1 to 4), or
// 0 when the byte there starts none: the ranges of the Unicode standard's
// table of well-formed byte sequences.
std::size_t utf8_length(std::string_view s, std::size_t i)
{
    const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t n = 0;
    unsigned char lo = 0x80; // the range of the second byte
    unsigned char hi = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        n = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        n = 3;
        lo = lead == 0xe0 ? 0xa0 : 0x80; // no overlong forms
        hi = lead == 0xed ? 0x9f : 0xbf; // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        n = 4;
        lo = lead == 0xf0 ? 0x90 : 0x80; // no overlong forms
        hi = lead == 0xf4 ? 0x8f : 0xbf; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (s.size() - i < n || byte(i + 1) < lo || byte(i + 1) > hi) {
        return 0;
    }
    for (std::size_t k = 2; k < n; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf) {
            return 0;
        }
    }
    return n;
}

// Appends byte c as \xNN.
void escape(std::string &out, unsigned char c)
{
    const char *const hex = "0123456789abcdef";
    out += "\\x";
    out += hex[c >> 4];
    out += hex[c & 0xf];
}

} // namespace

std::string printable(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = utf8_length(s, i);
        const bool c1 = n == 2 && c == 0xc2 && static_cast<unsigned char>(s[i + 1]) <= 0x9f;
        if (n == 0 || c < 0x20 || c == 0x7f) {
            escape(out, c);
            ++i;
        } else if (c1) {
            escape(out, c);
            escape(out, static_cast<unsigned char>(s[i + 1]));
            i += 2;
        } else {
            out.append(s, i, n);
            i += n;
        }
    }
    return out;
}
