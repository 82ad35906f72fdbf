// Reads PSS/E RAW revisions 23 to 36: splits each line into fields, reads the
// sections in the order of the file's revision, takes each record's fields by
// name from the revision's layout (raw/layouts.h), then checks that the
// records name buses, branches and tables that exist. Fields the solver has no
// use for are read past unchecked. Every problem is an InputError naming the
// file and the line.
#include "raw/raw.h"

#include "raw/input_error.h"
#include "raw/layouts.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <unordered_map>

namespace {

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

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::size_t skip_blanks(std::string_view s, std::size_t pos)
{
    while (pos < s.size() && is_blank(s[pos])) {
        ++pos;
    }
    return pos;
}

std::string_view trim_blanks(std::string_view s)
{
    const std::size_t first = skip_blanks(s, 0);
    std::size_t last = s.size();
    while (last > first && is_blank(s[last - 1])) {
        --last;
    }
    return s.substr(first, last - first);
}

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

// Splits a line into fields. A line that starts with @! has none. A comma or a run of blanks separates two fields;
// blanks next to a comma belong to it, so "1, ,3" has an empty second field.
// Outside quotes a / starts a comment that runs to the end of the line.
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

// Reads the next line, whatever it holds, into `l`. False at the end of the file.
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

// A decimal number that fills the whole token and is finite: no "nan", "inf",
// hexadecimal or trailing letters. Underflow reads as the nearest double.
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

// "field N (NAME) of the KIND record PROBLEM: 'TOKEN'", at the line of the
// field; a missing field has no token to show.
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

// A real field: empty or omitted takes `def`.
double real_field(const RecordLine &l, std::size_t n, std::string_view name, double def)
{
    const std::string_view text = field_text(l, n);
    double v = def;
    if (!text.empty() && !parse_number(text, v)) {
        throw field_error(l, n, name, "is not a number");
    }
    return v;
}

// An integer field: an integer, or a number with no fraction ("1.0"), that
// fits in int. Empty or omitted takes `def`.
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

// A string field (an id, a circuit, a name): empty or omitted takes `def`.
std::string string_field(const RecordLine &l, std::size_t n, const char *def)
{
    const std::string_view text = field_text(l, n);
    return text.empty() ? std::string(def) : std::string(text);
}

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

// How a record's first line reads: data, the 0 record that closes a section,
// or the Q record that ends all data.
enum class Next { record, section_end, data_end, eof };

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

// Reads the first line of the next record, skipping lines with no field
// (blank or comment only).
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

// Field `name` of the record's layout: its 1-based position, 0 when the
// record's revision has no such field.
std::size_t at(const RecordLine &l, std::string_view name) { return l.layout == nullptr ? 0 : l.layout->at(name); }

// The name a message gives field `n`: the layout's, or `def`.
std::string_view name_at(const RecordLine &l, std::size_t n, std::string_view def)
{
    return l.layout != nullptr && n >= 1 && n <= l.layout->names.size() ? l.layout->names[n - 1] : def;
}

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

// The record's ratings, by rating set, as its layout orders them.
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

// The revision a file without REV is written in, from its first bus record
// (`l`): version 23 has the bus type as its second field, a number; 24 to 30
// the quoted name, then BASKV, IDE, GL, BL, AREA, ZONE, VM, VA, OWNER (11
// fields); 31 on the name, then BASKV, IDE, AREA, ZONE, OWNER, VM, VA and
// (33 on) the four voltage limits.
int revision_of_bus_record(const RecordLine &l)
{
    if (l.fields.size() >= 2 && !l.fields[1].quoted) {
        double v = 0.0;
        if (parse_number(l.fields[1].text, v)) {
            return 23;
        }
    }
    return l.fields.size() == 10 || l.fields.size() == 11 ? 29 : 33;
}

// The first record after the case identification's two heading lines,
// read ahead without moving the reader.
bool peek_first_record(const Reader &r, RecordLine &l)
{
    Reader ahead = r;
    std::string_view heading;
    ahead.lines.next(heading);
    ahead.lines.next(heading);
    while (next_line(ahead, l)) {
        if (!l.fields.empty()) {
            return true;
        }
    }
    return false;
}

// Case identification: IC, SBASE, REV, XFRRAT, NXFRAT, BASFRQ, on the first
// line that is not an @! heading; two free-text heading lines follow, not
// split into fields. The revision is `forced` when not 0, else REV, else the
// layout of the first bus record (with a note saying so).
void read_case_identification(Reader &r, RawCase &c, int forced)
{
    const Layout id_layout = layout_of(Rec::case_id, 33);
    RecordLine l;
    l.file = &r.file;
    l.kind = "case identification";
    l.layout = &id_layout;
    std::string_view text;
    for (;;) {
        if (!r.lines.next(text)) {
            throw InputError(r.file, r.lines.number(), "the file holds only @! heading lines");
        }
        l.number = r.lines.number();
        if (trim_blanks(text).substr(0, 2) != "@!") {
            split_fields(text, l);
            break;
        }
    }
    const int ic = int_of(l, "IC", 0);
    if (ic != 0) {
        throw InputError(r.file, l.number,
                         "IC = " + std::to_string(ic) + " (a change case) is not supported; a base case (IC = 0) is");
    }
    c.sbase = real_of(l, "SBASE", 100.0);
    if (!(c.sbase > 0.0)) {
        throw InputError(r.file, l.number, "SBASE must be positive: '" + std::string(field_text(l, 2)) + "'");
    }
    const bool has_rev = !field_text(l, 3).empty();
    c.rev = int_of(l, "REV", 33);
    (void)real_of(l, "XFRRAT", 0.0);
    (void)real_of(l, "NXFRAT", 0.0);
    (void)real_of(l, "BASFRQ", 60.0);
    const int id_line = l.number;
    if (forced != 0) {
        c.rev = forced;
    } else if (!has_rev) {
        RecordLine bus;
        bus.file = &r.file;
        if (peek_first_record(r, bus)) {
            c.rev = revision_of_bus_record(bus);
            c.notes.push_back(r.file + ":" + std::to_string(id_line) +
                              ": no RAW revision (REV) in the case identification; read as revision " +
                              std::to_string(c.rev) + ", the layout of the bus record at line " +
                              std::to_string(bus.number));
        }
    }
    if (c.rev < first_raw_revision || c.rev > last_raw_revision) {
        throw InputError(r.file, id_line,
                         "RAW version " + std::to_string(c.rev) + " is not supported; revisions " +
                             std::to_string(first_raw_revision) + " to " + std::to_string(last_raw_revision) + " are");
    }
    r.lines.next(text);
    r.lines.next(text);
}

// The layouts of revision `rev`, once per file.
void set_layouts(Reader &r, RawCase &c)
{
    r.rev = c.rev;
    r.layouts.clear();
    for (int k = 0; k <= static_cast<int>(Rec::vsc_converter); ++k) {
        r.layouts.push_back(layout_of(static_cast<Rec>(k), c.rev));
    }
    for (int w = 0; w < 3; ++w) {
        r.windings.at(w) = layout_of(Rec::winding, c.rev, w + 1);
    }
    r.winding_short = layout_of(Rec::winding_short, c.rev, 2);
    c.rating_sets = static_cast<int>(r.layouts[static_cast<std::size_t>(Rec::branch)].ratings.size());
}

const Layout &layout(const Reader &r, Rec rec) { return r.layouts.at(static_cast<std::size_t>(rec)); }

// A bus's high voltage limits (NVHI, EVHI) are not below its low ones.
void check_voltage_limits(const RecordLine &l, const Bus &b)
{
    const auto check = [&](const char *hi, double hi_v, const char *lo, double lo_v) {
        if (!(hi_v < lo_v)) {
            return;
        }
        // As the file has them; an omitted limit shows its default.
        const auto shown = [&](const char *name, const char *def) {
            const std::size_t n = at(l, name);
            const std::string_view token = n == 0 ? std::string_view() : field_text(l, n);
            return std::string(token.empty() ? std::string_view(def) : token);
        };
        throw InputError(*l.file, l.number,
                         "bus " + std::to_string(b.number) + ": " + hi + " = '" + shown(hi, "1.1") + "' is below " +
                             lo + " = '" + shown(lo, "0.9") + "'");
    };
    check("NVHI", b.nvhi, "NVLO", b.nvlo);
    check("EVHI", b.evhi, "EVLO", b.evlo);
}

void read_load(const RecordLine &l, RawCase &c)
{
    Load d;
    d.line = l.number;
    d.bus = bus_of(l, "I", false);
    d.id = string_of(l, "ID", "1");
    d.status = int_of(l, "STATUS", 1);
    d.pl = real_of(l, "PL", 0.0);
    d.ql = real_of(l, "QL", 0.0);
    d.ip = real_of(l, "IP", 0.0);
    d.iq = real_of(l, "IQ", 0.0);
    d.yp = real_of(l, "YP", 0.0);
    d.yq = real_of(l, "YQ", 0.0);
    // Distributed generation at the load (revision 34 on), where its flag
    // DGENF puts it in service, nets off the constant-power part.
    const double dgenp = real_of(l, "DGENP", 0.0);
    const double dgenq = real_of(l, "DGENQ", 0.0);
    if (int_of(l, "DGENF", 0) == 1) {
        d.pl -= dgenp;
        d.ql -= dgenq;
    }
    c.loads.push_back(std::move(d));
}

void read_fixed_shunt(const RecordLine &l, RawCase &c)
{
    FixedShunt s;
    s.line = l.number;
    s.bus = bus_of(l, "I", false);
    s.id = string_of(l, "ID", "1");
    s.status = int_of(l, "STATUS", 1);
    s.gl = real_of(l, "GL", 0.0);
    s.bl = real_of(l, "BL", 0.0);
    c.fixed_shunts.push_back(std::move(s));
}

// A bus record. Its own load (PL, QL: version 23) and shunt (GL, BL:
// versions 23 to 30), where not zero, read as a load and a fixed shunt
// record of that line (ID 1, in service).
void read_bus(const RecordLine &l, RawCase &c)
{
    Bus b;
    b.line = l.number;
    b.number = int_of(l, "I", 0);
    if (b.number < 1 || b.number > max_bus_number) {
        throw field_error(l, 1, "I", "is not a bus number");
    }
    b.name = string_of(l, "NAME", "");
    b.base_kv = real_of(l, "BASKV", 0.0);
    b.ide = int_of(l, "IDE", 1);
    if (b.ide < 1 || b.ide > 4) {
        throw InputError(*l.file, l.number,
                         "bus " + std::to_string(b.number) + ": IDE " + std::to_string(b.ide) +
                             " is not one of 1, 2, 3, 4");
    }
    b.vm = real_of(l, "VM", 1.0);
    b.va_deg = real_of(l, "VA", 0.0);
    b.nvhi = real_of(l, "NVHI", 1.1);
    b.nvlo = real_of(l, "NVLO", 0.9);
    b.evhi = real_of(l, "EVHI", 1.1);
    b.evlo = real_of(l, "EVLO", 0.9);
    check_voltage_limits(l, b);
    if (real_of(l, "PL", 0.0) != 0.0 || real_of(l, "QL", 0.0) != 0.0) {
        read_load(l, c);
    }
    if (real_of(l, "GL", 0.0) != 0.0 || real_of(l, "BL", 0.0) != 0.0) {
        read_fixed_shunt(l, c);
    }
    c.buses.push_back(std::move(b));
}

// MBASE defaults to SBASE.
void read_unit(const RecordLine &l, RawCase &c)
{
    Unit u;
    u.line = l.number;
    u.bus = bus_of(l, "I", false);
    u.id = string_of(l, "ID", "1");
    u.pg = real_of(l, "PG", 0.0);
    u.qg = real_of(l, "QG", 0.0);
    u.qt = real_of(l, "QT", 9999.0);
    u.qb = real_of(l, "QB", -9999.0);
    u.vs = real_of(l, "VS", 1.0);
    u.ireg = int_of(l, "IREG", 0);
    u.nreg = int_of(l, "NREG", 0);
    u.rmpct = real_of(l, "RMPCT", 100.0);
    u.mbase = real_of(l, "MBASE", c.sbase);
    u.status = int_of(l, "STAT", 1);
    u.pt = real_of(l, "PT", 9999.0);
    u.pb = real_of(l, "PB", -9999.0);
    c.units.push_back(std::move(u));
}

void read_branch(const RecordLine &l, RawCase &c)
{
    Branch b;
    b.line = l.number;
    b.from = bus_of(l, "I", false);
    b.to = bus_of(l, "J", false);
    b.ckt = string_of(l, "CKT", "1");
    b.r = real_of(l, "R", 0.0);
    b.x = real_of(l, "X", 0.0);
    b.b = real_of(l, "B", 0.0);
    b.rate = ratings_of(l);
    b.ratio = real_of(l, "RATIO", 0.0);
    b.angle_deg = real_of(l, "ANGLE", 0.0);
    b.gi = real_of(l, "GI", 0.0);
    b.bi = real_of(l, "BI", 0.0);
    b.gj = real_of(l, "GJ", 0.0);
    b.bj = real_of(l, "BJ", 0.0);
    b.status = int_of(l, "ST", 1);
    c.branches.push_back(std::move(b));
}

// A system switching device: closed (STAT 1) it joins its buses through its
// reactance X; open it is out of service.
void read_switching_device(const RecordLine &l, RawCase &c)
{
    read_branch(l, c);
    Branch &b = c.branches.back();
    b.status = int_of(l, "STAT", 1);
    b.switching_device = true;
}

// The older transformer adjustment record: I, J, CKT name a branch with a
// RATIO; TABLE its impedance correction table. The control data are read
// past. The record is kept until the branches are all read.
struct Adjustment {
    int from = 0, to = 0;
    std::string ckt;
    int table = 0;
    int line = 0;
};

void read_transformer_adjustment(const RecordLine &l, std::vector<Adjustment> &adjustments)
{
    Adjustment a;
    a.line = l.number;
    a.from = bus_of(l, "I", false);
    a.to = bus_of(l, "J", false);
    a.ckt = string_of(l, "CKT", "1");
    a.table = int_of(l, "TABLE", 0);
    (void)int_of(l, "ICONT", 0);
    adjustments.push_back(std::move(a));
}

// "I-J-CKT", or "I-J-K-CKT" for a 3-winding transformer.
std::string transformer_label(const Transformer &t)
{
    std::string s = std::to_string(t.i) + "-" + std::to_string(t.j) + "-";
    if (t.k != 0) {
        s += std::to_string(t.k) + "-";
    }
    return s + t.ckt;
}

// CW (1..3) selects the winding voltage units, CZ (1..3) the impedance
// units, CM (1..2) the magnetizing admittance units.
void check_transformer_codes(const RecordLine &l, const Transformer &t)
{
    const auto check = [&](const char *name, int value, int most) {
        if (value < 1 || value > most) {
            std::string what = "transformer " + transformer_label(t) + ": " + name + " " + std::to_string(value) +
                               " is not one of 1, 2";
            what += most == 3 ? ", 3" : "";
            throw InputError(*l.file, l.number, what);
        }
    };
    check("CW", t.cw, 3);
    check("CZ", t.cz, 3);
    check("CM", t.cm, 2);
}

// Line 1. K = 0 (or omitted) makes a 2-winding record.
void read_transformer_line1(const RecordLine &l, Transformer &t)
{
    t.line = l.number;
    t.i = bus_of(l, "I", false);
    t.j = bus_of(l, "J", false);
    t.k = bus_of(l, "K", true);
    t.ckt = string_of(l, "CKT", "1");
    t.cw = int_of(l, "CW", 1);
    t.cz = int_of(l, "CZ", 1);
    t.cm = int_of(l, "CM", 1);
    t.mag1 = real_of(l, "MAG1", 0.0);
    t.mag2 = real_of(l, "MAG2", 0.0);
    t.name = string_of(l, "NAME", "");
    t.status = int_of(l, "STAT", 1);
    t.zcod = int_of(l, "ZCOD", 0);
    check_transformer_codes(l, t);
}

// Line 2: impedances and the star point. A 2-winding record uses the first
// three fields only.
void read_transformer_line2(const RecordLine &l, Transformer &t, double sbase)
{
    t.r12 = real_of(l, "R1-2", 0.0);
    t.x12 = real_of(l, "X1-2", 0.0);
    t.sbase12 = real_of(l, "SBASE1-2", sbase);
    if (t.k == 0) {
        return;
    }
    t.r23 = real_of(l, "R2-3", 0.0);
    t.x23 = real_of(l, "X2-3", 0.0);
    t.sbase23 = real_of(l, "SBASE2-3", sbase);
    t.r31 = real_of(l, "R3-1", 0.0);
    t.x31 = real_of(l, "X3-1", 0.0);
    t.sbase31 = real_of(l, "SBASE3-1", sbase);
    t.vmstar = real_of(l, "VMSTAR", 1.0);
    t.anstar_deg = real_of(l, "ANSTAR", 0.0);
}

// A winding line (winding w, 1..3) in the layout set on `l`. With CW = 2
// WINDV is in kV and defaults to the winding bus's base voltage; otherwise
// it defaults to 1.
Winding read_winding(const Reader &r, const RecordLine &l, const RawCase &c, const Transformer &t, int bus, int w)
{
    double windv = 1.0;
    if (t.cw == 2) {
        const auto it = r.bus_index.find(bus);
        windv = it == r.bus_index.end() ? 1.0 : c.buses[it->second].base_kv;
    }
    const std::string k = std::to_string(w);
    Winding wd;
    wd.windv = real_of(l, "WINDV" + k, windv);
    wd.nomv = real_of(l, "NOMV" + k, 0.0);
    wd.ang_deg = real_of(l, "ANG" + k, 0.0);
    wd.rate = ratings_of(l);
    wd.cod = int_of(l, "COD" + k, 0);
    wd.cont = int_of(l, "CONT" + k, 0);
    wd.rma = real_of(l, "RMA" + k, 1.1);
    wd.rmi = real_of(l, "RMI" + k, 0.9);
    wd.vma = real_of(l, "VMA" + k, 1.1);
    wd.vmi = real_of(l, "VMI" + k, 0.9);
    wd.ntp = int_of(l, "NTP" + k, 33);
    wd.tab = int_of(l, "TAB" + k, 0);
    return wd;
}

// Reads line `m` of a transformer record that has `count` lines. The line
// belongs to the record whatever it starts with; a blank one is all defaults.
void next_transformer_line(Reader &r, RecordLine &l, const Transformer &t, int m, int count, const Layout &lay)
{
    if (!next_line(r, l)) {
        throw InputError(r.file, t.line,
                         "the file ends inside a transformer record: line " + std::to_string(m) + " of " +
                             std::to_string(count) + " is missing");
    }
    l.layout = &lay;
}

// A transformer record: 4 lines for 2 windings (K = 0), 5 for 3 windings.
void read_transformer(Reader &r, RecordLine &l, RawCase &c)
{
    Transformer t;
    read_transformer_line1(l, t);
    const int count = t.k == 0 ? 4 : 5;
    next_transformer_line(r, l, t, 2, count, layout(r, Rec::transformer_2));
    read_transformer_line2(l, t, c.sbase);
    next_transformer_line(r, l, t, 3, count, r.windings[0]);
    t.windings[0] = read_winding(r, l, c, t, t.i, 1);
    next_transformer_line(r, l, t, 4, count, t.k != 0 ? r.windings[1] : r.winding_short);
    t.windings[1] = read_winding(r, l, c, t, t.j, 2);
    if (t.k != 0) {
        next_transformer_line(r, l, t, 5, count, r.windings[2]);
        t.windings[2] = read_winding(r, l, c, t, t.k, 3);
    }
    l.layout = &layout(r, Rec::transformer_1);
    c.transformers.push_back(std::move(t));
}

// Point n/2 of an impedance correction table (T in field n) does not come
// after the point before it.
InputError unordered_points(const RecordLine &l, const std::string &table, std::size_t n)
{
    const std::string k = std::to_string(n / 2);
    std::string what = table + ": T" + k + " = '";
    what += std::string(field_text(l, n)) + "' does not exceed T" + std::to_string(n / 2 - 1) + " = '";
    what += std::string(field_text(l, n - 2)) + "'; the T values must increase";
    return {*l.file, l.number, what};
}

InputError too_few_points(const RecordLine &l, const std::string &table)
{
    return {*l.file, l.number, table + " has fewer than 2 points"};
}

// One line: I, T1, F1, T2, F2, ..., T11, F11. The points run up to the first
// pair whose F is 0 (or missing); T must increase from point to point.
void read_impedance_table(const RecordLine &l, RawCase &c)
{
    ImpedanceTable t;
    t.line = l.number;
    t.number = int_field(l, 1, "I", 0);
    const std::string table = "impedance correction table " + std::to_string(t.number);
    for (std::size_t n = 2; n <= l.fields.size(); n += 2) {
        const std::string k = std::to_string(n / 2);
        const double tv = real_field(l, n, "T" + k, 0.0);
        const double fv = real_field(l, n + 1, "F" + k, 0.0);
        if (fv == 0.0) {
            break;
        }
        if (!t.points.empty() && !(tv > t.points.back().first)) {
            throw unordered_points(l, table, n);
        }
        t.points.emplace_back(tv, fv);
        t.im.push_back(0.0);
    }
    if (t.points.size() < 2) {
        throw too_few_points(l, table);
    }
    c.impedance_tables.push_back(std::move(t));
}

// Revision 34 on: I, T1, Re(F1), Im(F1), T2, Re(F2), Im(F2), ..., over as
// many lines as it takes, closed by a point whose F is 0 (0, 0, 0).
void read_complex_impedance_table(Reader &r, RecordLine &l, RawCase &c)
{
    ImpedanceTable t;
    t.line = l.number;
    t.number = int_field(l, 1, "I", 0);
    const std::string table = "impedance correction table " + std::to_string(t.number);
    std::size_t n = 2; // the field where the next point starts
    for (;;) {
        if (n > l.fields.size()) {
            if (!next_line(r, l)) {
                throw InputError(r.file, t.line, "the file ends inside " + table + ", before its 0, 0, 0 point");
            }
            n = 1;
            continue;
        }
        const std::string k = std::to_string(t.points.size() + 1);
        const double tv = real_field(l, n, "T" + k, 0.0);
        const double re = real_field(l, n + 1, "Re(F" + k + ")", 0.0);
        const double im = real_field(l, n + 2, "Im(F" + k + ")", 0.0);
        if (re == 0.0 && im == 0.0) {
            break;
        }
        if (!t.points.empty() && !(tv > t.points.back().first)) {
            std::string what = table;
            what += ": T" + k + " = '" + std::string(field_text(l, n));
            what += "' does not exceed the T before it; the T values must increase";
            throw InputError(r.file, l.number, what);
        }
        t.points.emplace_back(tv, re);
        t.im.push_back(im);
        n += 3;
    }
    if (t.points.size() < 2) {
        throw too_few_points(l, table);
    }
    c.impedance_tables.push_back(std::move(t));
}

// The shunt is held at BINIT; the switching data are read past.
// The blocks that close a switched-shunt record: N1, B1, N2, B2, ... (S1,
// N1, B1, ... from revision 35), up to 8, as many as the line holds.
std::vector<ShuntBlock> read_shunt_blocks(const RecordLine &l)
{
    const bool with_status = at(l, "S1") != 0;
    const std::size_t first = with_status ? at(l, "S1") : at(l, "N1");
    const std::size_t width = with_status ? 3 : 2;
    std::vector<ShuntBlock> blocks;
    const std::size_t last = at(l, "NREG") > first ? at(l, "NREG") - 1 : l.fields.size();
    for (std::size_t k = 0; first != 0 && k < 8; ++k) {
        const std::size_t n = first + k * width;
        if (n + width - 1 > std::min(last, l.fields.size())) {
            break;
        }
        const std::string i = std::to_string(k + 1);
        ShuntBlock b;
        b.status = with_status ? int_field(l, n, "S" + i, 1) : 1;
        b.steps = int_field(l, n + width - 2, "N" + i, 0);
        b.b = real_field(l, n + width - 1, "B" + i, 0.0);
        if (b.steps < 0) {
            throw field_error(l, n + width - 2, "N" + i, "is negative");
        }
        blocks.push_back(b);
    }
    return blocks;
}

void read_switched_shunt(const RecordLine &l, RawCase &c)
{
    SwitchedShunt s;
    s.line = l.number;
    s.bus = bus_of(l, "I", false);
    s.id = string_of(l, "ID", "1");
    s.modsw = int_of(l, "MODSW", 0);
    s.adjm = int_of(l, "ADJM", 0);
    s.status = int_of(l, "STAT", 1);
    s.vswhi = real_of(l, "VSWHI", 1.0);
    s.vswlo = real_of(l, "VSWLO", 1.0);
    s.swreg = int_of(l, at(l, "SWREG") != 0 ? "SWREG" : "SWREM", 0);
    s.rmpct = real_of(l, "RMPCT", 100.0);
    s.binit = real_of(l, "BINIT", 0.0);
    s.blocks = read_shunt_blocks(l);
    c.switched_shunts.push_back(std::move(s));
}

// System-wide data (revision 34 on): RATING records name the rating sets
// (RATING, n, 'NAME', 'DESCRIPTION'); the solution parameters (GENERAL,
// GAUSS, NEWTON, ADJUST, TYSL, SOLVER, each followed by KEY=VALUE fields)
// are kept as "GROUP.KEY". Anything else is read past.
void read_system_wide(const RecordLine &l, RawCase &c)
{
    std::string group(field_text(l, 1));
    std::transform(group.begin(), group.end(), group.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    if (group == "RATING") {
        const int n = int_field(l, 2, "RATING", 0);
        if (n < 1 || n > 12) {
            throw field_error(l, 2, "RATING", "is not a rating set from 1 to 12");
        }
        c.rating_names.at(static_cast<std::size_t>(n - 1)) = string_field(l, 3, "");
        return;
    }
    for (std::size_t n = 2; n <= l.fields.size(); ++n) {
        const std::string_view f = l.fields[n - 1].text;
        const std::size_t eq = f.find('=');
        if (eq != std::string_view::npos) {
            c.solution_parameters.emplace_back(group + "." + std::string(f.substr(0, eq)),
                                               std::string(f.substr(eq + 1)));
        }
    }
}

// The next line of a DC line record of `count` lines, read with `lay`.
void next_dc_line(Reader &r, RecordLine &l, const char *kind, int first, int m, int count, const Layout &lay)
{
    if (!next_line(r, l)) {
        throw InputError(r.file, first,
                         std::string("the file ends inside a ") + kind + " record: line " + std::to_string(m) + " of " +
                             std::to_string(count) + " is missing");
    }
    l.layout = &lay;
}

// A line with NB bridges, commutating R and X, base voltage, ratio, tap and
// tap range of one converter of a two-terminal DC line.
LccConverter read_lcc_converter(const RecordLine &l)
{
    LccConverter k;
    k.bus = bus_of(l, "IP", false);
    k.nb = int_of(l, "NB", 0);
    k.anmx_deg = real_of(l, "ANMX", 0.0);
    k.anmn_deg = real_of(l, "ANMN", 0.0);
    k.rc = real_of(l, "RC", 0.0);
    k.xc = real_of(l, "XC", 0.0);
    k.ebas = real_of(l, "EBAS", 0.0);
    k.tr = real_of(l, "TR", 1.0);
    k.tap = real_of(l, "TAP", 1.0);
    k.tmx = real_of(l, "TMX", 1.5);
    k.tmn = real_of(l, "TMN", 0.51);
    k.stp = real_of(l, "STP", 0.00625);
    k.xcap = real_of(l, "XCAP", 0.0);
    return k;
}

// A two-terminal DC line: the control line, the rectifier's line and the
// inverter's. A line named by number (before revision 30) takes the number
// as its name.
void read_two_terminal_dc(Reader &r, RecordLine &l, RawCase &c)
{
    TwoTerminalDc d;
    d.line = l.number;
    d.name = std::string(trim_blanks(string_of(l, at(l, "NAME") != 0 ? "NAME" : "I", "")));
    d.mdc = int_of(l, "MDC", 0);
    d.rdc = real_of(l, "RDC", 0.0);
    d.setvl = real_of(l, "SETVL", 0.0);
    d.vschd = real_of(l, "VSCHD", 0.0);
    d.vcmod = real_of(l, "VCMOD", 0.0);
    d.rcomp = real_of(l, "RCOMP", 0.0);
    d.delti = real_of(l, "DELTI", 0.0);
    next_dc_line(r, l, "two-terminal DC line", d.line, 2, 3, layout(r, Rec::dc_converter));
    d.rectifier = read_lcc_converter(l);
    next_dc_line(r, l, "two-terminal DC line", d.line, 3, 3, layout(r, Rec::dc_converter));
    d.inverter = read_lcc_converter(l);
    l.layout = &layout(r, Rec::dc_line);
    c.two_terminal_dc.push_back(std::move(d));
}

VscConverter read_vsc_converter(const RecordLine &l)
{
    VscConverter k;
    k.bus = bus_of(l, "IBUS", false);
    k.type = int_of(l, "TYPE", 0);
    k.mode = int_of(l, "MODE", 1);
    k.dcset = real_of(l, "DCSET", 0.0);
    k.acset = real_of(l, "ACSET", 1.0);
    k.aloss = real_of(l, "ALOSS", 0.0);
    k.bloss = real_of(l, "BLOSS", 0.0);
    k.minloss = real_of(l, "MINLOSS", 0.0);
    k.smax = real_of(l, "SMAX", 0.0);
    k.imax = real_of(l, "IMAX", 0.0);
    k.maxq = real_of(l, "MAXQ", 0.0);
    k.minq = real_of(l, "MINQ", 0.0);
    k.remot = bus_of(l, at(l, "VSREG") != 0 ? "VSREG" : "REMOT", true);
    return k;
}

// A VSC DC line: its first line and one line per converter.
void read_vsc_dc(Reader &r, RecordLine &l, RawCase &c)
{
    VscDc d;
    d.line = l.number;
    d.name = std::string(trim_blanks(string_of(l, "NAME", "")));
    d.mdc = int_of(l, "MDC", 0);
    d.rdc = real_of(l, "RDC", 0.0);
    for (int m = 2; m <= 3; ++m) {
        next_dc_line(r, l, "VSC DC line", d.line, m, 3, layout(r, Rec::vsc_converter));
        d.converters.at(static_cast<std::size_t>(m - 2)) = read_vsc_converter(l);
    }
    l.layout = &layout(r, Rec::vsc_line);
    c.vsc_dc.push_back(std::move(d));
}

// Counts a record of a kind the solver does not model.
void count_refused(Reader &r, const RecordLine &l)
{
    if (r.refused_count == 0) {
        r.refused_line = l.number;
    }
    ++r.refused_count;
}

// Counts a record of a kind the solver does not model: refused when in
// service, read past when its status field (`status`, at position `n`; 0
// for none) is 0: a blocked DC line, a FACTS device in mode 0, an induction
// machine of status 0.
void count_by_status(Reader &r, const RecordLine &l, std::size_t n, const char *status)
{
    if (n == 0 || int_field(l, n, status, 1) != 0) {
        count_refused(r, l);
        return;
    }
    if (r.out_count == 0) {
        r.out_line = l.number;
    }
    ++r.out_count;
}

// Multi-terminal DC: line 1 is 'NAME', NCONV, NDCBS, NDCLN, MDC, VCONV, VCMOD,
// VCONVN (I, NCONV, ... before revision 30); NCONV converter, NDCBS DC bus
// and NDCLN DC link lines follow.
void count_multi_terminal_dc(Reader &r, RecordLine &l, std::size_t n_status, const char *status)
{
    count_by_status(r, l, n_status, status);
    long long more = 0;
    const std::array<const char *, 3> names{"NCONV", "NDCBS", "NDCLN"};
    for (std::size_t n = 2; n <= 4; ++n) {
        const int v = int_field(l, n, names.at(n - 2), 0);
        if (v < 0) {
            throw field_error(l, n, names.at(n - 2), "is negative");
        }
        more += v;
    }
    for (long long m = 0; m < more; ++m) {
        if (!next_line(r, l)) {
            throw section_truncated(r, l.kind);
        }
    }
}

// GNE device records run over several lines; a line that starts with a
// quoted string (the device's name) starts a record.
void count_gne_line(Reader &r, const RecordLine &l)
{
    if (l.fields.front().quoted || r.refused_count == 0) {
        count_refused(r, l);
    }
}

// Substation data (revision 34 on): each substation record is followed by
// its node, switching device and terminal data, each closed by a 0 record.
// The node-breaker detail is read past: the bus records hold the model the
// solver takes.
void skip_substation(Reader &r, RecordLine &l)
{
    count_refused(r, l);
    const int line = l.number;
    for (int block = 0; block < 3; ++block) {
        for (;;) {
            const Next next = next_record(r, l);
            if (next == Next::eof || next == Next::data_end) {
                throw InputError(r.file, r.lines.number(),
                                 "the file ends inside the data of the substation record at line " +
                                     std::to_string(line));
            }
            if (next == Next::section_end) {
                break;
            }
        }
    }
}

// How the records of a section are read.
enum class Records {
    system_wide,
    bus,
    load,
    fixed_shunt,
    unit,
    branch,
    switching_device,
    transformer,
    transformer_adj,
    impedance_table,
    impedance_table_complex,
    switched_shunt,
    substation,       // read past, with a note
    ignored,          // one line each, nothing the solver uses
    refused_one_line, // FACTS device, induction machine
    two_terminal_dc,
    vsc_dc,
    refused_multi_dc, // multi-terminal DC
    refused_gne,      // GNE device
};

struct Section {
    Sec sec;
    const char *kind;             // in messages: "the file ends inside the KIND data"
    Records records;              // how its records are read
    Rec rec;                      // the layout of its records (case_id where they are read by position or not at all)
    const char *refused;          // what a record is, for a kind the solver refuses
    std::size_t status_field = 0; // of a refused kind: the field that puts a record out of service at 0
    const char *status = "";      // and its name
};

// Every section any revision has.
constexpr std::array<Section, 24> section_kinds{{
    {Sec::system_wide, "system-wide", Records::system_wide, Rec::case_id, nullptr},
    {Sec::bus, "bus", Records::bus, Rec::bus, nullptr},
    {Sec::load, "load", Records::load, Rec::load, nullptr},
    {Sec::fixed_shunt, "fixed shunt", Records::fixed_shunt, Rec::fixed_shunt, nullptr},
    {Sec::generator, "generator", Records::unit, Rec::generator, nullptr},
    {Sec::branch, "branch", Records::branch, Rec::branch, nullptr},
    {Sec::switching_device, "system switching device", Records::switching_device, Rec::switching_device, nullptr},
    {Sec::transformer, "transformer", Records::transformer, Rec::transformer_1, nullptr},
    {Sec::transformer_adj, "transformer adjustment", Records::transformer_adj, Rec::transformer_adj, nullptr},
    {Sec::area, "area interchange", Records::ignored, Rec::case_id, nullptr},
    {Sec::two_terminal_dc, "two-terminal DC", Records::two_terminal_dc, Rec::dc_line, nullptr},
    {Sec::vsc_dc, "VSC DC", Records::vsc_dc, Rec::vsc_line, nullptr},
    {Sec::impedance_correction, "impedance correction", Records::impedance_table, Rec::case_id, nullptr},
    {Sec::impedance_correction_complex, "impedance correction", Records::impedance_table_complex, Rec::case_id,
     nullptr},
    {Sec::multi_terminal_dc, "multi-terminal DC", Records::refused_multi_dc, Rec::case_id, "multi-terminal DC line", 5,
     "MDC"},
    {Sec::multi_section, "multi-section line group", Records::ignored, Rec::case_id, nullptr},
    {Sec::zone, "zone", Records::ignored, Rec::case_id, nullptr},
    {Sec::inter_area, "inter-area transfer", Records::ignored, Rec::case_id, nullptr},
    {Sec::owner, "owner", Records::ignored, Rec::case_id, nullptr},
    {Sec::facts, "FACTS device", Records::refused_one_line, Rec::case_id, "FACTS device", 4, "MODE"},
    {Sec::switched_shunt, "switched shunt", Records::switched_shunt, Rec::switched_shunt, nullptr},
    {Sec::gne, "GNE device", Records::refused_gne, Rec::case_id, "GNE device"},
    {Sec::induction_machine, "induction machine", Records::refused_one_line, Rec::case_id, "induction machine", 3,
     "STAT"},
    {Sec::substation, "substation", Records::substation, Rec::case_id, nullptr},
}};

const Section &section_kind(Sec sec)
{
    return *std::find_if(section_kinds.begin(), section_kinds.end(), [sec](const Section &s) { return s.sec == sec; });
}

// What the reader carries from section to section besides the case.
struct Extras {
    std::vector<Adjustment> adjustments;
};

// Reads one record whose first line is in `l`; a record of several lines
// reads the rest into `l` too.
void read_record(Reader &r, const Section &s, RecordLine &l, RawCase &c, Extras &x)
{
    switch (s.records) {
    case Records::system_wide:
        read_system_wide(l, c);
        break;
    case Records::bus:
        read_bus(l, c);
        break;
    case Records::load:
        read_load(l, c);
        break;
    case Records::fixed_shunt:
        read_fixed_shunt(l, c);
        break;
    case Records::unit:
        read_unit(l, c);
        break;
    case Records::branch:
        read_branch(l, c);
        break;
    case Records::switching_device:
        read_switching_device(l, c);
        break;
    case Records::transformer:
        read_transformer(r, l, c);
        break;
    case Records::transformer_adj:
        read_transformer_adjustment(l, x.adjustments);
        break;
    case Records::impedance_table:
        read_impedance_table(l, c);
        break;
    case Records::impedance_table_complex:
        read_complex_impedance_table(r, l, c);
        break;
    case Records::switched_shunt:
        read_switched_shunt(l, c);
        break;
    case Records::substation:
        skip_substation(r, l);
        break;
    case Records::ignored:
        break;
    case Records::refused_one_line:
        count_by_status(r, l, s.status_field, s.status);
        break;
    case Records::two_terminal_dc:
        read_two_terminal_dc(r, l, c);
        break;
    case Records::vsc_dc:
        read_vsc_dc(r, l, c);
        break;
    case Records::refused_multi_dc:
        count_multi_terminal_dc(r, l, s.status_field, s.status);
        break;
    case Records::refused_gne:
        count_gne_line(r, l);
        break;
    }
}

// At the end of a section of a kind the solver does not model: any record in
// service in it makes the case one that can not be solved; those out of
// service are read past with a note, and so are substations.
void end_section(const Reader &r, const Section &s, RawCase &c)
{
    if (r.out_count > 0) {
        c.notes.push_back(r.file + ":" + std::to_string(r.out_line) + ": " + std::to_string(r.out_count) + " " +
                          s.refused + " record(s) out of service (" + s.status + " 0) read past");
    }
    if (r.refused_count == 0) {
        return;
    }
    if (s.records == Records::substation) {
        c.notes.push_back(r.file + ":" + std::to_string(r.refused_line) + ": " + std::to_string(r.refused_count) +
                          " substation record(s) with node-breaker data read past; the bus records' model is solved");
        return;
    }
    if (s.refused == nullptr) {
        return;
    }
    std::string what = "the case has " + std::to_string(r.refused_count) + " " + s.refused;
    what += r.refused_count == 1 ? " record; " : " records; ";
    what += std::string(s.refused) + "s are not modelled, so the case can not be solved";
    throw InputError(r.file, r.refused_line, what);
}

// Whether the next record opens the system-wide data: a keyword (RATING,
// GENERAL, ...) or the 0 record that closes an empty section. A file may
// leave the section out and start its bus data at once.
bool system_wide_present(const Reader &r)
{
    Reader ahead = r;
    RecordLine l;
    l.file = &r.file;
    const Next next = next_record(ahead, l);
    if (next == Next::section_end) {
        return true;
    }
    double v = 0.0;
    return next == Next::record && !l.fields.front().quoted && !parse_number(l.fields.front().text, v);
}

// Reads one section up to its closing 0 record and returns true, or returns
// false when the data end here: at a Q record, or (`may_be_absent`) at the
// end of the file before the section's first line.
bool read_section(Reader &r, const Section &s, RawCase &c, Extras &x, bool may_be_absent)
{
    RecordLine l;
    l.file = &r.file;
    l.kind = s.kind;
    r.refused_count = 0;
    r.refused_line = 0;
    r.out_count = 0;
    r.out_line = 0;
    bool any = false;
    for (;;) {
        const Next next = next_record(r, l);
        if (next == Next::record) {
            l.layout = &layout(r, s.rec);
            read_record(r, s, l, c, x);
            any = true;
            continue;
        }
        if (next == Next::eof) {
            if (!any && may_be_absent) {
                return false;
            }
            throw section_truncated(r, s.kind);
        }
        end_section(r, s, c);
        return next == Next::section_end;
    }
}
// Bus number -> index of its first record.
void index_buses(Reader &r, const RawCase &c)
{
    r.bus_index.reserve(c.buses.size());
    for (std::size_t n = 0; n < c.buses.size(); ++n) {
        r.bus_index.emplace(c.buses[n].number, n);
    }
}

// No two bus records share a number.
void check_duplicate_buses(const Reader &r, const RawCase &c)
{
    for (std::size_t n = 0; n < c.buses.size(); ++n) {
        const std::size_t first = r.bus_index.at(c.buses[n].number);
        if (first != n) {
            throw InputError(r.file, c.buses[n].line,
                             "bus " + std::to_string(c.buses[n].number) + " is defined twice (first at line " +
                                 std::to_string(c.buses[first].line) + ")");
        }
    }
}

// A record of `kind` at `line` names `bus`, which must be in the bus data.
void check_bus(const Reader &r, const char *kind, int bus, int line)
{
    if (r.bus_index.count(bus) == 0) {
        throw InputError(r.file, line,
                         std::string(kind) + " names bus " + std::to_string(bus) + ", which is not in the bus data");
    }
}

// Every bus a record names must be in the bus data.
void check_bus_references(const Reader &r, const RawCase &c)
{
    for (const Load &d : c.loads) {
        check_bus(r, "load", d.bus, d.line);
    }
    for (const FixedShunt &s : c.fixed_shunts) {
        check_bus(r, "fixed shunt", s.bus, s.line);
    }
    for (const Unit &u : c.units) {
        check_bus(r, "generator", u.bus, u.line);
    }
    for (const Branch &b : c.branches) {
        const char *kind = b.switching_device ? "system switching device" : "branch";
        check_bus(r, kind, b.from, b.line);
        check_bus(r, kind, b.to, b.line);
    }
    for (const Transformer &t : c.transformers) {
        check_bus(r, "transformer", t.i, t.line);
        check_bus(r, "transformer", t.j, t.line);
        if (t.k != 0) {
            check_bus(r, "transformer", t.k, t.line);
        }
    }
    for (const SwitchedShunt &s : c.switched_shunts) {
        check_bus(r, "switched shunt", s.bus, s.line);
    }
    for (const TwoTerminalDc &d : c.two_terminal_dc) {
        check_bus(r, "two-terminal DC line", d.rectifier.bus, d.line);
        check_bus(r, "two-terminal DC line", d.inverter.bus, d.line);
    }
    for (const VscDc &d : c.vsc_dc) {
        for (const VscConverter &k : d.converters) {
            check_bus(r, "VSC DC line", k.bus, d.line);
        }
    }
}

// Each transformer adjustment record names a branch of the branch data; its
// TABLE becomes the branch's impedance correction table.
void apply_adjustments(const Reader &r, const std::vector<Adjustment> &adjustments, RawCase &c)
{
    for (const Adjustment &a : adjustments) {
        const auto it = std::find_if(c.branches.begin(), c.branches.end(), [&a](const Branch &b) {
            return b.from == a.from && b.to == a.to && b.ckt == a.ckt;
        });
        if (it == c.branches.end()) {
            throw InputError(r.file, a.line,
                             "transformer adjustment names branch " + std::to_string(a.from) + "-" +
                                 std::to_string(a.to) + "-" + a.ckt + ", which is not in the branch data");
        }
        it->tab = a.table;
    }
}

// Table numbers are unique, and every TAB a transformer names is defined.
void check_impedance_tables(const Reader &r, const RawCase &c)
{
    std::unordered_map<int, int> table_line;
    for (const ImpedanceTable &t : c.impedance_tables) {
        const auto [it, added] = table_line.emplace(t.number, t.line);
        if (!added) {
            throw InputError(r.file, t.line,
                             "impedance correction table " + std::to_string(t.number) +
                                 " is defined twice (first at line " + std::to_string(it->second) + ")");
        }
    }
    for (const Branch &b : c.branches) {
        if (b.tab != 0 && table_line.count(b.tab) == 0) {
            throw InputError(r.file, b.line,
                             "branch " + std::to_string(b.from) + "-" + std::to_string(b.to) + "-" + b.ckt +
                                 " names impedance correction table " + std::to_string(b.tab) +
                                 ", which is not in the impedance correction data");
        }
    }
    for (const Transformer &t : c.transformers) {
        for (const Winding &w : t.windings) {
            if (w.tab != 0 && table_line.count(w.tab) == 0) {
                throw InputError(r.file, t.line,
                                 "transformer " + transformer_label(t) + " names impedance correction table " +
                                     std::to_string(w.tab) + ", which is not in the impedance correction data");
            }
        }
    }
}

// At least one bus has IDE 3.
void check_slack(const Reader &r, const RawCase &c)
{
    if (std::none_of(c.buses.begin(), c.buses.end(), [](const Bus &b) { return b.ide == 3; })) {
        throw InputError(r.file, 0, "no slack bus: no bus has IDE 3");
    }
}

// The whole stream; a read error (a directory, an I/O error) is an InputError.
std::string read_all(std::istream &in, const std::string &file)
{
    std::string text;
    std::array<char, 65536> chunk{};
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        throw InputError(file, 0, "can not read the file");
    }
    return text;
}

bool all_blank(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    });
}

} // namespace

RawCase read_raw(const std::string &path, int rev)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw InputError(path, 0, "can not open the file");
    }
    return parse_raw(in, path, rev);
}

RawCase parse_raw(std::istream &in, const std::string &file, int rev)
{
    const std::string text = read_all(in, file);
    if (all_blank(text)) {
        throw InputError(file, 0, "the file is empty");
    }
    Reader r{file, Lines(text), 33, {}, {}, {}, {}, 0, 0};
    RawCase c;
    c.file = file;
    read_case_identification(r, c, rev);
    set_layouts(r, c);
    Extras x;
    const std::vector<Sec> order = sections_of(c.rev);
    bool first = true;
    for (const Sec sec : order) {
        if (sec == Sec::system_wide && !system_wide_present(r)) {
            continue;
        }
        const bool more = read_section(r, section_kind(sec), c, x, !first);
        first = false;
        if (sec == Sec::bus) {
            index_buses(r, c);
        }
        if (!more) {
            break;
        }
    }
    check_duplicate_buses(r, c);
    check_bus_references(r, c);
    apply_adjustments(r, x.adjustments, c);
    check_impedance_tables(r, c);
    check_slack(r, c);
    return c;
}
