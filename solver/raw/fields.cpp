#include "raw/fields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace rawread {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::size_t skip_blanks(std::string_view s, std::size_t pos)
{
    while (pos < s.size() && is_blank(s[pos])) {
        ++pos;
    }
    return pos;
}

} // namespace

std::string_view trim_blanks(std::string_view s)
{
    const std::size_t first = skip_blanks(s, 0);
    std::size_t last = s.size();
    while (last > first && is_blank(s[last - 1])) {
        --last;
    }
    return s.substr(first, last - first);
}

namespace {

// A field in ' or " quotes starting at `pos`; returns the position after the
// closing quote. Commas, blanks and slashes inside are part of the text.
std::size_t quoted_field(const RecordLine &l, std::string_view s, std::size_t pos, Field &f)
{
    const std::size_t close = s.find(s[pos], pos + 1);
    if (close == std::string_view::npos) {
        throw InputError(*l.file, l.number,
                         "the quote that opens field " + std::to_string(l.fields.size() + 1) + " of the " + l.kind +
                             " record is not closed");
    }
    f.text = trim_blanks(s.substr(pos + 1, close - pos - 1));
    f.quoted = true;
    return close + 1;
}

} // namespace

void split_fields(std::string_view s, RecordLine &l)
{
    l.fields.clear();
    std::size_t pos = skip_blanks(s, 0);
    if (s.substr(pos, 2) == "@!") {
        return; // a column heading (revision 34 on): a comment line
    }
    while (pos < s.size() && s[pos] != '/') {
        Field f;
        const char c = s[pos];
        if (c == '\'' || c == '"') {
            pos = quoted_field(l, s, pos, f);
        } else if (c != ',') {
            std::size_t end = pos;
            while (end < s.size() && !is_blank(s[end]) && s[end] != ',' && s[end] != '/') {
                ++end;
            }
            f.text = s.substr(pos, end - pos);
            pos = end;
        }
        l.fields.push_back(f);
        pos = skip_blanks(s, pos);
        if (pos < s.size() && s[pos] == ',') {
            pos = skip_blanks(s, pos + 1);
        }
    }
}

bool next_line(Reader &r, RecordLine &l)
{
    std::string_view text;
    if (!r.lines.next(text)) {
        return false;
    }
    l.number = r.lines.number();
    split_fields(text, l);
    return true;
}

bool parse_number(std::string_view s, double &value)
{
    const bool plain = !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
    });
    if (!plain) {
        return false;
    }
    const char *first = s.data();
    const char *last = first + s.size();
    if (*first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+') {
        ++first;
    }
    double v = 0.0;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (end != last) {
        return false;
    }
    if (ec == std::errc::result_out_of_range) {
        v = std::strtod(std::string(s).c_str(), nullptr);
    } else if (ec != std::errc()) {
        return false;
    }
    if (!std::isfinite(v)) {
        return false;
    }
    value = v;
    return true;
}

std::string_view field_text(const RecordLine &l, std::size_t n)
{
    return n <= l.fields.size() ? l.fields[n - 1].text : std::string_view();
}

InputError field_error(const RecordLine &l, std::size_t n, std::string_view name, const std::string &problem)
{
    std::string what =
        "field " + std::to_string(n) + " (" + std::string(name) + ") of the " + l.kind + " record " + problem;
    const std::string_view token = field_text(l, n);
    if (!token.empty()) {
        what += ": '" + std::string(token) + "'";
    }
    return {*l.file, l.number, what};
}

double real_field(const RecordLine &l, std::size_t n, std::string_view name, double def)
{
    const std::string_view text = field_text(l, n);
    double v = def;
    if (!text.empty() && !parse_number(text, v)) {
        throw field_error(l, n, name, "is not a number");
    }
    return v;
}

int int_field(const RecordLine &l, std::size_t n, std::string_view name, int def)
{
    const std::string_view text = field_text(l, n);
    if (text.empty()) {
        return def;
    }
    double v = 0.0;
    if (!parse_number(text, v)) {
        throw field_error(l, n, name, "is not a number");
    }
    if (v != std::trunc(v) || v < static_cast<double>(INT_MIN) || v > static_cast<double>(INT_MAX)) {
        throw field_error(l, n, name, "is not an integer");
    }
    return static_cast<int>(v);
}

namespace {

// A rating in MVA: 0 (the default) leaves the element unmonitored; a
// negative one is no rating at all.
double rating_field(const RecordLine &l, std::size_t n, std::string_view name)
{
    const double v = real_field(l, n, name, 0.0);
    if (v < 0.0) {
        throw field_error(l, n, name, "is negative");
    }
    return v;
}

} // namespace

std::string string_field(const RecordLine &l, std::size_t n, const char *def)
{
    const std::string_view text = field_text(l, n);
    return text.empty() ? std::string(def) : std::string(text);
}

namespace {

// A field naming a bus. A negative number (the metered-end flag of branches
// and transformers) stands for its absolute value. With `zero_ok` an empty
// field or 0 reads as 0 (a transformer's K: no third winding).
int bus_field(const RecordLine &l, std::size_t n, std::string_view name, bool zero_ok)
{
    if (field_text(l, n).empty() && !zero_ok) {
        throw field_error(l, n, name, "is missing");
    }
    const int v = int_field(l, n, name, 0);
    if (v == 0 && zero_ok) {
        return 0;
    }
    if (v == 0 || v < -max_bus_number || v > max_bus_number) {
        throw field_error(l, n, name, "is not a bus number");
    }
    return std::abs(v);
}

Next start_of(const RecordLine &l)
{
    const Field &f = l.fields.front();
    if (f.quoted) {
        return Next::record;
    }
    if (f.text == "Q" || f.text == "q") {
        return Next::data_end;
    }
    // A 0 alone (or followed by zeros only) closes a section; a record that
    // merely numbers something 0 ("0,'ZONE0'") does not.
    const auto zero = [](const Field &g) {
        double v = 1.0;
        return !g.quoted && parse_number(g.text, v) && v == 0.0;
    };
    if (std::all_of(l.fields.begin(), l.fields.end(), zero)) {
        return Next::section_end;
    }
    return Next::record;
}

} // namespace

Next next_record(Reader &r, RecordLine &l)
{
    while (next_line(r, l)) {
        if (!l.fields.empty()) {
            return start_of(l);
        }
    }
    return Next::eof;
}

InputError section_truncated(const Reader &r, const char *kind)
{
    return {r.file, r.lines.number() + 1,
            std::string("the file ends inside the ") + kind + " data, before its closing 0 record"};
}

std::size_t at(const RecordLine &l, std::string_view name) { return l.layout == nullptr ? 0 : l.layout->at(name); }

namespace {

// The name a message gives field `n`: the layout's, or `def`.
std::string_view name_at(const RecordLine &l, std::size_t n, std::string_view def)
{
    return l.layout != nullptr && n >= 1 && n <= l.layout->names.size() ? l.layout->names[n - 1] : def;
}

} // namespace

double real_of(const RecordLine &l, std::string_view name, double def)
{
    const std::size_t n = at(l, name);
    return n == 0 ? def : real_field(l, n, name, def);
}

int int_of(const RecordLine &l, std::string_view name, int def)
{
    const std::size_t n = at(l, name);
    return n == 0 ? def : int_field(l, n, name, def);
}

std::string string_of(const RecordLine &l, std::string_view name, const char *def)
{
    const std::size_t n = at(l, name);
    return n == 0 ? std::string(def) : string_field(l, n, def);
}

int bus_of(const RecordLine &l, std::string_view name, bool zero_ok)
{
    const std::size_t n = at(l, name);
    return n == 0 ? 0 : bus_field(l, n, name, zero_ok);
}

Ratings ratings_of(const RecordLine &l)
{
    Ratings rate{};
    if (l.layout == nullptr) {
        return rate;
    }
    for (std::size_t k = 0; k < l.layout->ratings.size() && k < rate.size(); ++k) {
        const std::size_t n = l.layout->ratings[k];
        rate.at(k) = rating_field(l, n, name_at(l, n, ""));
    }
    return rate;
}

} // namespace rawread
