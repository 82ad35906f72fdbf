#include "io/csv.h"

#include "io/printable.h"

std::string csv_text(const std::string &text)
{
    // Line ends are escaped with the other controls, so only a comma, a
    // quote or an edge blank needs quotes.
    std::string s = printable(text);
    const bool edge_blank = !s.empty() && (s.front() == ' ' || s.back() == ' ');
    if (!edge_blank && s.find_first_of(",\"") == std::string::npos) {
        return s;
    }
    std::string q = "\"";
    for (char c : s) {
        q += c;
        if (c == '"') {
            q += '"';
        }
    }
    return q + "\"";
}

bool csv_fields(const std::string &line, std::vector<std::string> &fields)
{
    fields.assign(1, std::string());
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == '"' && fields.back().empty()) {
            // A quoted field: up to the closing quote, "" standing for ".
            ++i;
            for (;;) {
                if (i >= line.size()) {
                    return false;
                }
                if (line[i] == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                    fields.back() += '"';
                    i += 2;
                } else if (line[i] == '"') {
                    ++i;
                    break;
                } else {
                    fields.back() += line[i++];
                }
            }
            if (i < line.size() && line[i] != ',') {
                return false;
            }
            continue;
        }
        if (line[i] == ',') {
            fields.emplace_back();
        } else {
            fields.back() += line[i];
        }
        ++i;
    }
    return true;
}
