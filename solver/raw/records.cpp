#include "raw/records.h"

#include "io/input_error.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace rawread {

namespace {

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

// AREA, ZONE and OWNER only label a bus for the selections of a monitor
// file: a field that is not an integer reads as 1, as an omitted one does,
// so that they never refuse a case the solver reads.
int label_of(const RecordLine &l, const char *name)
{
    const std::size_t n = at(l, name);
    double v = 0;
    if (n == 0 || !parse_number(field_text(l, n), v) || v != std::floor(v) || v < INT_MIN || v > INT_MAX) {
        return 1;
    }
    return static_cast<int>(v);
}

} // namespace

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
    b.area = label_of(l, "AREA");
    b.zone = label_of(l, "ZONE");
    b.owner = label_of(l, "OWNER");
    if (real_of(l, "PL", 0.0) != 0.0 || real_of(l, "QL", 0.0) != 0.0) {
        read_load(l, c);
    }
    if (real_of(l, "GL", 0.0) != 0.0 || real_of(l, "BL", 0.0) != 0.0) {
        read_fixed_shunt(l, c);
    }
    c.buses.push_back(std::move(b));
}

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
    u.wmod = int_of(l, "WMOD", 0);
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

void read_switching_device(const RecordLine &l, RawCase &c)
{
    read_branch(l, c);
    Branch &b = c.branches.back();
    b.status = int_of(l, "STAT", 1);
    b.switching_device = true;
}

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

std::string transformer_label(const Transformer &t)
{
    std::string s = std::to_string(t.i) + "-" + std::to_string(t.j) + "-";
    if (t.k != 0) {
        s += std::to_string(t.k) + "-";
    }
    return s + t.ckt;
}

namespace {

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
// it defaults to 1. A WINDV of exactly 0 (written by exporters for a
// winding at its nominal ratio) reads as that default, with a note.
Winding read_winding(const Reader &r, const RecordLine &l, RawCase &c, const Transformer &t, int bus, int w)
{
    double windv = 1.0;
    if (t.cw == 2) {
        const auto it = r.bus_index.find(bus);
        windv = it == r.bus_index.end() ? 1.0 : c.buses[it->second].base_kv;
    }
    const std::string k = std::to_string(w);
    Winding wd;
    wd.windv = real_of(l, "WINDV" + k, windv);
    if (wd.windv == 0.0) {
        wd.windv = windv;
        char value[64];
        std::snprintf(value, sizeof value, "%g", windv);
        c.notes.push_back(r.file + ":" + std::to_string(l.number) + ": transformer " + transformer_label(t) +
                          ": WINDV" + k + " = 0 is read as " + value +
                          (t.cw == 2 ? " kV, the bus's base voltage" : "") + " (a winding ratio of 1)");
    }
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

} // namespace

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

namespace {

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

} // namespace

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

namespace {

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

} // namespace

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

namespace {

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

} // namespace

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

namespace {

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

} // namespace

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

namespace {

// Counts a record of a kind the solver does not model.
void count_refused(Reader &r, const RecordLine &l)
{
    if (r.refused_count == 0) {
        r.refused_line = l.number;
    }
    ++r.refused_count;
}

} // namespace

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

void count_gne_line(Reader &r, const RecordLine &l)
{
    if (l.fields.front().quoted || r.refused_count == 0) {
        count_refused(r, l);
    }
}

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

} // namespace rawread
