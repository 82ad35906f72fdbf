#include "report/html_text.h"

#include "io/printable.h"

#include <string>

std::string html_text(std::string_view s)
{
    const std::string p = printable(s);
    std::string out;
    out.reserve(p.size());
    for (size_t i = 0; i < p.size(); ++i) {
        const char c = p[i];
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '"') {
            out += "&quot;";
        } else if (c == '\'') {
            out += "&#39;";
        } else if (p.compare(i, 2, "\xef\xbf") == 0 && i + 2 < p.size() && (p[i + 2] == '\xbe' || p[i + 2] == '\xbf')) {
            out += "\xef\xbf\xbd"; // U+FFFE or U+FFFF
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}
