// Reads PSS/E RAW version 33: splits each line into fields, reads the sections
// in their fixed order, then checks that the records name buses and tables
// that exist. Fields the solver has no use for are read past unchecked. Every
// problem is an InputError naming the file and the line.
#include "raw/raw.h"

#include "raw/input_error.h"

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
    // Bus number -> index of its first record; filled after the bus data.
    std::unordered_map<int, std::size_t> bus_index;
    // Records of a refused kind in the current section, and the line of the first.
    int refused_count = 0;
    int refused_line = 0;
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

// Splits a line into fields. A comma or a run of blanks separates two fields;
// blanks next to a comma belong to it, so "1, ,3" has an empty second field.
// Outside quotes a / starts a comment that runs to the end of the line.
void split_fields(std::string_view s, RecordLine &l)
{
    l.fields.clear();
    std::size_t pos = skip_blanks(s, 0);
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
    double v = 1.0;
    if (parse_number(f.text, v) && v == 0.0) {
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

// Case identification, line 1: IC, SBASE, REV, XFRRAT, NXFRAT, BASFRQ.
// Lines 2 and 3 are free-text headings and are not split into fields.
void read_case_identification(Reader &r, RawCase &c)
{
    RecordLine l;
    l.file = &r.file;
    l.kind = "case identification";
    next_line(r, l);
    c.rev = int_field(l, 3, "REV", 33);
    if (c.rev != 33) {
        throw InputError(r.file, 1, "RAW version " + std::to_string(c.rev) + " is not supported, version 33 is");
    }
    const int ic = int_field(l, 1, "IC", 0);
    if (ic != 0) {
        throw InputError(r.file, 1,
                         "IC = " + std::to_string(ic) + " (a change case) is not supported; a base case (IC = 0) is");
    }
    c.sbase = real_field(l, 2, "SBASE", 100.0);
    if (!(c.sbase > 0.0)) {
        throw InputError(r.file, 1, "SBASE must be positive: '" + std::string(field_text(l, 2)) + "'");
    }
    (void)real_field(l, 4, "XFRRAT", 0.0);
    (void)real_field(l, 5, "NXFRAT", 0.0);
    (void)real_field(l, 6, "BASFRQ", 60.0);
    std::string_view heading;
    r.lines.next(heading);
    r.lines.next(heading);
}

// A bus's high voltage limits (NVHI, EVHI) are not below its low ones.
void check_voltage_limits(const RecordLine &l, const Bus &b)
{
    const auto check = [&](std::size_t hi_n, const char *hi, double hi_v, std::size_t lo_n, const char *lo,
                           double lo_v) {
        if (!(hi_v < lo_v)) {
            return;
        }
        // As the file has them; an omitted limit shows its default.
        const auto shown = [&](std::size_t n, const char *def) {
            const std::string_view token = field_text(l, n);
            return std::string(token.empty() ? std::string_view(def) : token);
        };
        throw InputError(*l.file, l.number,
                         "bus " + std::to_string(b.number) + ": " + hi + " = '" + shown(hi_n, "1.1") + "' is below " +
                             lo + " = '" + shown(lo_n, "0.9") + "'");
    };
    check(10, "NVHI", b.nvhi, 11, "NVLO", b.nvlo);
    check(12, "EVHI", b.evhi, 13, "EVLO", b.evlo);
}

// I, 'NAME', BASKV, IDE, AREA, ZONE, OWNER, VM, VA, NVHI, NVLO, EVHI, EVLO.
void read_bus(const RecordLine &l, RawCase &c)
{
    Bus b;
    b.line = l.number;
    b.number = int_field(l, 1, "I", 0);
    if (b.number < 1 || b.number > max_bus_number) {
        throw field_error(l, 1, "I", "is not a bus number");
    }
    b.name = string_field(l, 2, "");
    b.base_kv = real_field(l, 3, "BASKV", 0.0);
    b.ide = int_field(l, 4, "IDE", 1);
    if (b.ide < 1 || b.ide > 4) {
        throw InputError(*l.file, l.number,
                         "bus " + std::to_string(b.number) + ": IDE " + std::to_string(b.ide) +
                             " is not one of 1, 2, 3, 4");
    }
    b.vm = real_field(l, 8, "VM", 1.0);
    b.va_deg = real_field(l, 9, "VA", 0.0);
    b.nvhi = real_field(l, 10, "NVHI", 1.1);
    b.nvlo = real_field(l, 11, "NVLO", 0.9);
    b.evhi = real_field(l, 12, "EVHI", 1.1);
    b.evlo = real_field(l, 13, "EVLO", 0.9);
    check_voltage_limits(l, b);
    c.buses.push_back(std::move(b));
}

// I, ID, STATUS, AREA, ZONE, PL, QL, IP, IQ, YP, YQ, OWNER, SCALE, INTRPT.
void read_load(const RecordLine &l, RawCase &c)
{
    Load d;
    d.line = l.number;
    d.bus = bus_field(l, 1, "I", false);
    d.id = string_field(l, 2, "1");
    d.status = int_field(l, 3, "STATUS", 1);
    d.pl = real_field(l, 6, "PL", 0.0);
    d.ql = real_field(l, 7, "QL", 0.0);
    d.ip = real_field(l, 8, "IP", 0.0);
    d.iq = real_field(l, 9, "IQ", 0.0);
    d.yp = real_field(l, 10, "YP", 0.0);
    d.yq = real_field(l, 11, "YQ", 0.0);
    c.loads.push_back(std::move(d));
}

// I, ID, STATUS, GL, BL.
void read_fixed_shunt(const RecordLine &l, RawCase &c)
{
    FixedShunt s;
    s.line = l.number;
    s.bus = bus_field(l, 1, "I", false);
    s.id = string_field(l, 2, "1");
    s.status = int_field(l, 3, "STATUS", 1);
    s.gl = real_field(l, 4, "GL", 0.0);
    s.bl = real_field(l, 5, "BL", 0.0);
    c.fixed_shunts.push_back(std::move(s));
}

// I, ID, PG, QG, QT, QB, VS, IREG, MBASE, ZR, ZX, RT, XT, GTAP, STAT, RMPCT,
// PT, PB, O1, F1, ..., O4, F4, WMOD, WPF. MBASE defaults to SBASE.
void read_unit(const RecordLine &l, RawCase &c)
{
    Unit u;
    u.line = l.number;
    u.bus = bus_field(l, 1, "I", false);
    u.id = string_field(l, 2, "1");
    u.pg = real_field(l, 3, "PG", 0.0);
    u.qg = real_field(l, 4, "QG", 0.0);
    u.qt = real_field(l, 5, "QT", 9999.0);
    u.qb = real_field(l, 6, "QB", -9999.0);
    u.vs = real_field(l, 7, "VS", 1.0);
    u.ireg = int_field(l, 8, "IREG", 0);
    u.mbase = real_field(l, 9, "MBASE", c.sbase);
    u.status = int_field(l, 15, "STAT", 1);
    u.pt = real_field(l, 17, "PT", 9999.0);
    u.pb = real_field(l, 18, "PB", -9999.0);
    c.units.push_back(std::move(u));
}

// I, J, CKT, R, X, B, RATEA, RATEB, RATEC, GI, BI, GJ, BJ, ST, MET, LEN,
// O1, F1, ..., O4, F4.
void read_branch(const RecordLine &l, RawCase &c)
{
    Branch b;
    b.line = l.number;
    b.from = bus_field(l, 1, "I", false);
    b.to = bus_field(l, 2, "J", false);
    b.ckt = string_field(l, 3, "1");
    b.r = real_field(l, 4, "R", 0.0);
    b.x = real_field(l, 5, "X", 0.0);
    b.b = real_field(l, 6, "B", 0.0);
    b.rate_a = rating_field(l, 7, "RATEA");
    b.rate_b = rating_field(l, 8, "RATEB");
    b.rate_c = rating_field(l, 9, "RATEC");
    b.gi = real_field(l, 10, "GI", 0.0);
    b.bi = real_field(l, 11, "BI", 0.0);
    b.gj = real_field(l, 12, "GJ", 0.0);
    b.bj = real_field(l, 13, "BJ", 0.0);
    b.status = int_field(l, 14, "ST", 1);
    c.branches.push_back(std::move(b));
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

// Line 1: I, J, K, CKT, CW, CZ, CM, MAG1, MAG2, NMETR, 'NAME', STAT, O1, F1,
// ..., O4, F4, VECGRP. K = 0 (or omitted) makes a 2-winding record.
void read_transformer_line1(const RecordLine &l, Transformer &t)
{
    t.line = l.number;
    t.i = bus_field(l, 1, "I", false);
    t.j = bus_field(l, 2, "J", false);
    t.k = bus_field(l, 3, "K", true);
    t.ckt = string_field(l, 4, "1");
    t.cw = int_field(l, 5, "CW", 1);
    t.cz = int_field(l, 6, "CZ", 1);
    t.cm = int_field(l, 7, "CM", 1);
    t.mag1 = real_field(l, 8, "MAG1", 0.0);
    t.mag2 = real_field(l, 9, "MAG2", 0.0);
    t.name = string_field(l, 11, "");
    t.status = int_field(l, 12, "STAT", 1);
    check_transformer_codes(l, t);
}

// Line 2: R1-2, X1-2, SBASE1-2, R2-3, X2-3, SBASE2-3, R3-1, X3-1, SBASE3-1,
// VMSTAR, ANSTAR. A 2-winding record uses the first three only.
void read_transformer_line2(const RecordLine &l, Transformer &t, double sbase)
{
    t.r12 = real_field(l, 1, "R1-2", 0.0);
    t.x12 = real_field(l, 2, "X1-2", 0.0);
    t.sbase12 = real_field(l, 3, "SBASE1-2", sbase);
    if (t.k == 0) {
        return;
    }
    t.r23 = real_field(l, 4, "R2-3", 0.0);
    t.x23 = real_field(l, 5, "X2-3", 0.0);
    t.sbase23 = real_field(l, 6, "SBASE2-3", sbase);
    t.r31 = real_field(l, 7, "R3-1", 0.0);
    t.x31 = real_field(l, 8, "X3-1", 0.0);
    t.sbase31 = real_field(l, 9, "SBASE3-1", sbase);
    t.vmstar = real_field(l, 10, "VMSTAR", 1.0);
    t.anstar_deg = real_field(l, 11, "ANSTAR", 0.0);
}

// The names of the kept winding fields, by winding.
struct WindingNames {
    const char *windv, *nomv, *ang, *rata, *ratb, *ratc, *cod, *tab;
};

constexpr std::array<WindingNames, 3> winding_names{{
    {"WINDV1", "NOMV1", "ANG1", "RATA1", "RATB1", "RATC1", "COD1", "TAB1"},
    {"WINDV2", "NOMV2", "ANG2", "RATA2", "RATB2", "RATC2", "COD2", "TAB2"},
    {"WINDV3", "NOMV3", "ANG3", "RATA3", "RATB3", "RATC3", "COD3", "TAB3"},
}};

// A winding line: WINDV, NOMV, ANG, RATA, RATB, RATC, COD, CONT, RMA, RMI,
// VMA, VMI, NTP, TAB, CR, CX, CNXA. The last line of a 2-winding record holds
// WINDV2 and NOMV2 only (`full` false). With CW = 2 WINDV is in kV and
// defaults to the winding bus's base voltage; otherwise it defaults to 1.
Winding read_winding(const Reader &r, const RecordLine &l, const RawCase &c, const Transformer &t, int bus,
                     std::size_t w, bool full)
{
    double windv = 1.0;
    if (t.cw == 2) {
        const auto it = r.bus_index.find(bus);
        windv = it == r.bus_index.end() ? 1.0 : c.buses[it->second].base_kv;
    }
    const WindingNames &names = winding_names.at(w);
    Winding wd;
    wd.windv = real_field(l, 1, names.windv, windv);
    wd.nomv = real_field(l, 2, names.nomv, 0.0);
    if (!full) {
        return wd;
    }
    wd.ang_deg = real_field(l, 3, names.ang, 0.0);
    wd.rate_a = rating_field(l, 4, names.rata);
    wd.rate_b = rating_field(l, 5, names.ratb);
    wd.rate_c = rating_field(l, 6, names.ratc);
    wd.cod = int_field(l, 7, names.cod, 0);
    wd.tab = int_field(l, 14, names.tab, 0);
    return wd;
}

// Reads line `m` of a transformer record that has `count` lines. The line
// belongs to the record whatever it starts with; a blank one is all defaults.
void next_transformer_line(Reader &r, RecordLine &l, const Transformer &t, int m, int count)
{
    if (!next_line(r, l)) {
        throw InputError(r.file, t.line,
                         "the file ends inside a transformer record: line " + std::to_string(m) + " of " +
                             std::to_string(count) + " is missing");
    }
}

// A transformer record: 4 lines for 2 windings (K = 0), 5 for 3 windings.
void read_transformer(Reader &r, RecordLine &l, RawCase &c)
{
    Transformer t;
    read_transformer_line1(l, t);
    const int count = t.k == 0 ? 4 : 5;
    next_transformer_line(r, l, t, 2, count);
    read_transformer_line2(l, t, c.sbase);
    next_transformer_line(r, l, t, 3, count);
    t.windings[0] = read_winding(r, l, c, t, t.i, 0, true);
    next_transformer_line(r, l, t, 4, count);
    t.windings[1] = read_winding(r, l, c, t, t.j, 1, t.k != 0);
    if (t.k != 0) {
        next_transformer_line(r, l, t, 5, count);
        t.windings[2] = read_winding(r, l, c, t, t.k, 2, true);
    }
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
    }
    if (t.points.size() < 2) {
        throw InputError(*l.file, l.number, table + " has fewer than 2 points");
    }
    c.impedance_tables.push_back(std::move(t));
}

// I, MODSW, ADJM, STAT, VSWHI, VSWLO, SWREM, RMPCT, 'RMIDNT', BINIT, N1, B1,
// ..., N8, B8. The shunt is held at BINIT; the switching data are read past.
void read_switched_shunt(const RecordLine &l, RawCase &c)
{
    SwitchedShunt s;
    s.line = l.number;
    s.bus = bus_field(l, 1, "I", false);
    s.status = int_field(l, 4, "STAT", 1);
    s.binit = real_field(l, 10, "BINIT", 0.0);
    c.switched_shunts.push_back(s);
}

// Counts a record of a kind the solver does not model.
void count_refused(Reader &r, const RecordLine &l)
{
    if (r.refused_count == 0) {
        r.refused_line = l.number;
    }
    ++r.refused_count;
}

// Two-terminal and VSC DC line records: three lines each.
void count_three_lines(Reader &r, RecordLine &l)
{
    count_refused(r, l);
    for (int m = 2; m <= 3; ++m) {
        if (!next_line(r, l)) {
            throw section_truncated(r, l.kind);
        }
    }
}

// Multi-terminal DC: line 1 is 'NAME', NCONV, NDCBS, NDCLN, MDC, VCONV, VCMOD,
// VCONVN; NCONV converter, NDCBS DC bus and NDCLN DC link lines follow.
void count_multi_terminal_dc(Reader &r, RecordLine &l)
{
    count_refused(r, l);
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

// How the records of a section are read.
enum class Records {
    bus,
    load,
    fixed_shunt,
    unit,
    branch,
    transformer,
    impedance_table,
    switched_shunt,
    ignored,          // one line each, nothing the solver uses
    refused_one_line, // FACTS device, induction machine
    refused_dc_line,  // two-terminal and VSC DC: three lines each
    refused_multi_dc, // multi-terminal DC
    refused_gne,      // GNE device
};

struct Section {
    const char *kind;    // in messages: "the file ends inside the KIND data"
    Records records;     // how its records are read
    const char *refused; // what a record is, for a kind the solver refuses
};

// The sections of a version 33 file, in their fixed order.
constexpr std::array<Section, 19> sections{{
    {"bus", Records::bus, nullptr},
    {"load", Records::load, nullptr},
    {"fixed shunt", Records::fixed_shunt, nullptr},
    {"generator", Records::unit, nullptr},
    {"branch", Records::branch, nullptr},
    {"transformer", Records::transformer, nullptr},
    {"area interchange", Records::ignored, nullptr},
    {"two-terminal DC", Records::refused_dc_line, "two-terminal DC line"},
    {"VSC DC", Records::refused_dc_line, "VSC DC line"},
    {"impedance correction", Records::impedance_table, nullptr},
    {"multi-terminal DC", Records::refused_multi_dc, "multi-terminal DC line"},
    {"multi-section line group", Records::ignored, nullptr},
    {"zone", Records::ignored, nullptr},
    {"inter-area transfer", Records::ignored, nullptr},
    {"owner", Records::ignored, nullptr},
    {"FACTS device", Records::refused_one_line, "FACTS device"},
    {"switched shunt", Records::switched_shunt, nullptr},
    {"GNE device", Records::refused_gne, "GNE device"},
    {"induction machine", Records::refused_one_line, "induction machine"},
}};

// Reads one record whose first line is in `l`; a record of several lines
// reads the rest into `l` too.
void read_record(Reader &r, Records records, RecordLine &l, RawCase &c)
{
    switch (records) {
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
    case Records::transformer:
        read_transformer(r, l, c);
        break;
    case Records::impedance_table:
        read_impedance_table(l, c);
        break;
    case Records::switched_shunt:
        read_switched_shunt(l, c);
        break;
    case Records::ignored:
        break;
    case Records::refused_one_line:
        count_refused(r, l);
        break;
    case Records::refused_dc_line:
        count_three_lines(r, l);
        break;
    case Records::refused_multi_dc:
        count_multi_terminal_dc(r, l);
        break;
    case Records::refused_gne:
        count_gne_line(r, l);
        break;
    }
}

// At the end of a section of a kind the solver does not model: any record in
// it makes the case one that can not be solved.
void refuse_counted(const Reader &r, const Section &s)
{
    if (s.refused == nullptr || r.refused_count == 0) {
        return;
    }
    std::string what = "the case has " + std::to_string(r.refused_count) + " " + s.refused;
    what += r.refused_count == 1 ? " record; " : " records; ";
    what += std::string(s.refused) + "s are not modelled, so the case can not be solved";
    throw InputError(r.file, r.refused_line, what);
}

// Reads one section up to its closing 0 record and returns true, or returns
// false when the data end here: at a Q record, or (`may_be_absent`) at the
// end of the file before the section's first line.
bool read_section(Reader &r, const Section &s, RawCase &c, bool may_be_absent)
{
    RecordLine l;
    l.file = &r.file;
    l.kind = s.kind;
    r.refused_count = 0;
    r.refused_line = 0;
    bool any = false;
    for (;;) {
        const Next next = next_record(r, l);
        if (next == Next::record) {
            read_record(r, s.records, l, c);
            any = true;
            continue;
        }
        if (next == Next::eof) {
            if (!any && may_be_absent) {
                return false;
            }
            throw section_truncated(r, s.kind);
        }
        refuse_counted(r, s);
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
        check_bus(r, "branch", b.from, b.line);
        check_bus(r, "branch", b.to, b.line);
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

// Exactly one bus has IDE 3.
void check_slack(const Reader &r, const RawCase &c)
{
    const Bus *slack = nullptr;
    for (const Bus &b : c.buses) {
        if (b.ide != 3) {
            continue;
        }
        if (slack != nullptr) {
            throw InputError(r.file, b.line,
                             "bus " + std::to_string(b.number) + " is a second slack bus (IDE 3) after bus " +
                                 std::to_string(slack->number) + "; one slack bus is supported");
        }
        slack = &b;
    }
    if (slack == nullptr) {
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

RawCase read_raw(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw InputError(path, 0, "can not open the file");
    }
    return parse_raw(in, path);
}

RawCase parse_raw(std::istream &in, const std::string &file)
{
    const std::string text = read_all(in, file);
    if (all_blank(text)) {
        throw InputError(file, 0, "the file is empty");
    }
    Reader r{file, Lines(text), {}, 0, 0};
    RawCase c;
    c.file = file;
    read_case_identification(r, c);
    for (std::size_t s = 0; s < sections.size(); ++s) {
        const bool more = read_section(r, sections.at(s), c, s > 0);
        if (s == 0) {
            index_buses(r, c);
        }
        if (!more) {
            break;
        }
    }
    check_duplicate_buses(r, c);
    check_bus_references(r, c);
    check_impedance_tables(r, c);
    check_slack(r, c);
    return c;
}
