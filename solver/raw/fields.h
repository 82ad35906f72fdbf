// The RAW reader's view of the file: its lines, each record line split into
// fields, and the fields read as numbers, strings and bus numbers with their
// defaults. A field is taken by its name in the record's layout
// (raw/layouts.h), so a field the file's revision lacks reads as its default.
#pragma once

#include "io/input_error.h"
#include "raw/layouts.h"
#include "raw/raw.h"

#include <array>
#include <climits>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rawread {

constexpr int max_bus_number = 999997;

// One field of a record line; a quoted field has its quotes and the blanks
// inside them removed.
struct Field {
    std::string_view text;
    bool quoted = false;
};

// One line of a record, split into fields, with what messages need.
struct RecordLine {
    const std::string *file = nullptr;
    const char *kind = ""; // "bus", "transformer", ...
    int number = 0;        // 1-based line in the file
    std::vector<Field> fields;
    const Layout *layout = nullptr; // the record's fields by name
};

// The text as lines. LF or CR LF ends a line; a last line without an end
// still counts, an empty remainder after the last LF does not.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}

    bool next(std::string_view &line)
    {
        if (pos_ >= text_.size()) {
            return false;
        }
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) {
            end = text_.size();
        }
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        pos_ = end + 1;
        if (number_ < INT_MAX - 1) {
            ++number_;
        }
        return true;
    }

    // The number of the last line read; after the end, the number of lines.
    int number() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int number_ = 0;
};

// What one pass over the file carries from section to section.
struct Reader {
    const std::string &file;
    Lines lines;
    int rev = 33;
    std::vector<Layout> layouts;    // by Rec
    std::array<Layout, 3> windings; // winding lines, by winding
    Layout winding_short;           // the last line of a 2-winding record
    // Bus number -> index of its first record; filled after the bus data.
    std::unordered_map<int, std::size_t> bus_index;
    // Records of a refused kind in the current section, and the line of the first.
    int refused_count = 0;
    int refused_line = 0;
    // Records of a refused kind that are out of service, and the line of the first.
    int out_count = 0;
    int out_line = 0;
};

// `s` without the blanks (spaces, tabs) at either end.
std::string_view trim_blanks(std::string_view s);

// Splits a line into fields. A line that starts with @! has none. A comma or a run of blanks separates two fields;
// blanks next to a comma belong to it, so "1, ,3" has an empty second field.
// Outside quotes a / starts a comment that runs to the end of the line.
void split_fields(std::string_view s, RecordLine &l);

// Reads the next line, whatever it holds, into `l`. False at the end of the file.
bool next_line(Reader &r, RecordLine &l);

// A decimal number that fills the whole token and is finite: no "nan", "inf",
// hexadecimal or trailing letters. Underflow reads as the nearest double.
bool parse_number(std::string_view s, double &value);

// The text of field `n` (1-based) as read; empty when the line has fewer fields.
std::string_view field_text(const RecordLine &l, std::size_t n);

// "field N (NAME) of the KIND record PROBLEM: 'TOKEN'", at the line of the
// field; a missing field has no token to show.
InputError field_error(const RecordLine &l, std::size_t n, std::string_view name, const std::string &problem);

// A real field: empty or omitted takes `def`.
double real_field(const RecordLine &l, std::size_t n, std::string_view name, double def);

// An integer field: an integer, or a number with no fraction ("1.0"), that
// fits in int. Empty or omitted takes `def`.
int int_field(const RecordLine &l, std::size_t n, std::string_view name, int def);

// A string field (an id, a circuit, a name): empty or omitted takes `def`.
std::string string_field(const RecordLine &l, std::size_t n, const char *def);

// How a record's first line reads: data, the 0 record that closes a section,
// or the Q record that ends all data.
enum class Next { record, section_end, data_end, eof };

// Reads the first line of the next record, skipping lines with no field
// (blank or comment only).
Next next_record(Reader &r, RecordLine &l);

// "the file ends inside the KIND data, before its closing 0 record", at the
// line after the last.
InputError section_truncated(const Reader &r, const char *kind);

// Field `name` of the record's layout: its 1-based position, 0 when the
// record's revision has no such field.
std::size_t at(const RecordLine &l, std::string_view name);

// The field named `name` in the record's layout, read as real_field,
// int_field, string_field or bus_field do; a field the layout lacks takes
// `def` (bus_of: 0).
double real_of(const RecordLine &l, std::string_view name, double def);

int int_of(const RecordLine &l, std::string_view name, int def);

std::string string_of(const RecordLine &l, std::string_view name, const char *def);

int bus_of(const RecordLine &l, std::string_view name, bool zero_ok);

// The record's ratings, by rating set, as its layout orders them.
Ratings ratings_of(const RecordLine &l);

// The layout of `rec` in the file's revision.
inline const Layout &layout(const Reader &r, Rec rec) { return r.layouts.at(static_cast<std::size_t>(rec)); }

} // namespace rawread
