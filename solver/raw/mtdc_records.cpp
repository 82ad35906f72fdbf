// The multi-terminal DC line record (read_multi_terminal_dc): its first line,
// then its converter, DC bus and DC link lines, and the checks that tie them
// together (each converter on a DC bus of its own, links between defined DC
// buses, VCONV one of the converters).
#include "io/input_error.h"
#include "raw/fields.h"
#include "raw/layouts.h"
#include "raw/records.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <unordered_map>

namespace rawread {

namespace {

std::string mtdc_name(const MultiTerminalDc &d) { return "multi-terminal DC line '" + d.name + "'"; }

InputError mtdc_error(const Reader &r, const MultiTerminalDc &d, int line, const std::string &what)
{
    return InputError(r.file, line, mtdc_name(d) + ": " + what);
}

// The next line `m` of `count` of the record that starts at `first`, read with `lay`.
void next_mtdc_line(Reader &r, RecordLine &l, const MultiTerminalDc &d, int m, int count, const Layout &lay)
{
    if (!next_line(r, l)) {
        throw mtdc_error(r, d, d.line,
                         "the file ends inside the record: line " + std::to_string(m) + " of " + std::to_string(count) +
                             " is missing");
    }
    l.layout = &lay;
}

// A converter line: IB, N, ANGMX, ANGMN, RC, XC, EBAS, TR, TAP, TPMX, TPMN,
// TSTP, SETVL, DCPF, MARG, CNVCOD.
MtdcConverter read_mtdc_converter(const RecordLine &l)
{
    MtdcConverter c;
    c.line = l.number;
    c.k.bus = bus_of(l, "IB", false);
    c.k.nb = int_of(l, "N", 0);
    c.k.anmx_deg = real_of(l, "ANGMX", 0.0);
    c.k.anmn_deg = real_of(l, "ANGMN", 0.0);
    c.k.rc = real_of(l, "RC", 0.0);
    c.k.xc = real_of(l, "XC", 0.0);
    c.k.ebas = real_of(l, "EBAS", 0.0);
    c.k.tr = real_of(l, "TR", 1.0);
    c.k.tap = real_of(l, "TAP", 1.0);
    c.k.tmx = real_of(l, "TPMX", 1.5);
    c.k.tmn = real_of(l, "TPMN", 0.51);
    c.k.stp = real_of(l, "TSTP", 0.00625);
    c.setvl = real_of(l, "SETVL", 0.0);
    c.dcpf = real_of(l, "DCPF", 1.0);
    c.marg = real_of(l, "MARG", 0.0);
    c.cnvcod = int_of(l, "CNVCOD", 1);
    return c;
}

// A DC bus line: IDC, IB, AREA, ZONE, 'DCNAME', IDC2, RGRND, OWNER.
MtdcBus read_mtdc_bus(const RecordLine &l)
{
    MtdcBus b;
    b.line = l.number;
    b.idc = int_of(l, "IDC", 0);
    if (b.idc < 1) {
        throw field_error(l, at(l, "IDC"), "IDC", "is not a DC bus number of 1 or more");
    }
    b.ib = bus_of(l, "IB", true);
    b.name = std::string(trim_blanks(string_of(l, "DCNAME", "")));
    b.idc2 = int_of(l, "IDC2", 0);
    b.rgrnd = real_of(l, "RGRND", 0.0);
    return b;
}

// A DC link line: IDC, JDC (negative: the metered end), DCCKT, MET
// (revision 31 on), RDC, LDC.
MtdcLink read_mtdc_link(const RecordLine &l)
{
    MtdcLink k;
    k.line = l.number;
    k.idc = int_of(l, "IDC", 0);
    if (k.idc < 1) {
        throw field_error(l, at(l, "IDC"), "IDC", "is not a DC bus number of 1 or more");
    }
    k.jdc = std::abs(int_of(l, "JDC", 0));
    k.ckt = std::string(trim_blanks(string_of(l, "DCCKT", "1")));
    k.rdc = real_of(l, "RDC", 0.0);
    (void)real_of(l, "LDC", 0.0);
    return k;
}

// The counts NCONV, NDCBS and NDCLN of the first line: at least two
// converters, a DC bus for each, at least one link.
std::array<int, 3> record_counts(const RecordLine &l)
{
    const std::array<const char *, 3> names{"NCONV", "NDCBS", "NDCLN"};
    std::array<int, 3> n{};
    for (std::size_t k = 0; k < 3; ++k) {
        n.at(k) = int_of(l, names.at(k), 0);
        if (n.at(k) < 0) {
            throw field_error(l, at(l, names.at(k)), names.at(k), "is negative");
        }
    }
    if (n[0] < 2) {
        throw field_error(l, at(l, "NCONV"), "NCONV",
                          "is below 2: a multi-terminal DC line has two converters or more");
    }
    if (n[1] < n[0]) {
        throw field_error(l, at(l, "NDCBS"), "NDCBS", "is below NCONV: each converter sits at a DC bus of its own");
    }
    if (n[2] < 1) {
        throw field_error(l, at(l, "NDCLN"), "NDCLN", "is below 1: the DC buses are joined by DC links");
    }
    return n;
}

// DC bus numbers are unique; links and IDC2 name DC buses of the line.
void check_dc_buses(const Reader &r, const MultiTerminalDc &d)
{
    std::unordered_map<int, int> line_of;
    for (const MtdcBus &b : d.buses) {
        const auto [it, added] = line_of.emplace(b.idc, b.line);
        if (!added) {
            throw mtdc_error(r, d, b.line,
                             "DC bus " + std::to_string(b.idc) + " is defined twice (first at line " +
                                 std::to_string(it->second) + ")");
        }
    }
    const auto defined = [&](int idc, int line, const std::string &what) {
        if (line_of.count(idc) == 0) {
            throw mtdc_error(
                r, d, line, what + " names DC bus " + std::to_string(idc) + ", which is not among the line's DC buses");
        }
    };
    for (const MtdcBus &b : d.buses) {
        if (b.idc2 != 0) {
            defined(b.idc2, b.line, "DC bus " + std::to_string(b.idc) + " (IDC2)");
        }
    }
    for (const MtdcLink &k : d.links) {
        const std::string what = "DC link " + std::to_string(k.idc) + "-" + std::to_string(k.jdc) + "-" + k.ckt;
        defined(k.idc, k.line, what);
        defined(k.jdc, k.line, what);
        if (k.idc == k.jdc) {
            throw mtdc_error(r, d, k.line, what + " joins a DC bus to itself");
        }
    }
}

// Every converter is on a distinct AC bus and at exactly one DC bus; a DC
// bus names only converters of the line; VCONV is one of them.
void check_converters(const Reader &r, const MultiTerminalDc &d)
{
    for (std::size_t k = 0; k < d.converters.size(); ++k) {
        const MtdcConverter &c = d.converters[k];
        const auto same = [&c](const MtdcConverter &o) { return o.k.bus == c.k.bus; };
        if (std::any_of(d.converters.begin(), d.converters.begin() + static_cast<std::ptrdiff_t>(k), same)) {
            throw mtdc_error(r, d, c.line, "AC bus " + std::to_string(c.k.bus) + " holds two of its converters");
        }
        const auto count =
            std::count_if(d.buses.begin(), d.buses.end(), [&c](const MtdcBus &b) { return b.ib == c.k.bus; });
        if (count != 1) {
            throw mtdc_error(r, d, c.line,
                             "the converter at AC bus " + std::to_string(c.k.bus) + " is at " + std::to_string(count) +
                                 " DC buses; it must be at exactly one");
        }
    }
    const auto stray = std::find_if(d.buses.begin(), d.buses.end(), [&d](const MtdcBus &b) {
        return b.ib != 0 && std::none_of(d.converters.begin(), d.converters.end(),
                                         [&b](const MtdcConverter &c) { return c.k.bus == b.ib; });
    });
    if (stray != d.buses.end()) {
        throw mtdc_error(r, d, stray->line,
                         "DC bus " + std::to_string(stray->idc) + " names AC bus " + std::to_string(stray->ib) +
                             ", which has no converter of the line");
    }
    if (std::none_of(d.converters.begin(), d.converters.end(),
                     [&d](const MtdcConverter &c) { return c.k.bus == d.vconv; })) {
        throw mtdc_error(r, d, d.line,
                         "VCONV " + std::to_string(d.vconv) + " is not the AC bus of one of its converters");
    }
}

} // namespace

void read_multi_terminal_dc(Reader &r, RecordLine &l, RawCase &c)
{
    MultiTerminalDc d;
    d.line = l.number;
    d.name = std::string(trim_blanks(string_of(l, at(l, "NAME") != 0 ? "NAME" : "I", "")));
    const std::array<int, 3> n = record_counts(l);
    d.mdc = int_of(l, "MDC", 0);
    d.vconv = bus_of(l, "VCONV", false);
    d.vcmod = real_of(l, "VCMOD", 0.0);
    d.vconvn = bus_of(l, "VCONVN", true);
    const int count = 1 + n[0] + n[1] + n[2];
    int m = 1;
    for (int k = 0; k < n[0]; ++k) {
        next_mtdc_line(r, l, d, ++m, count, layout(r, Rec::mtdc_converter));
        d.converters.push_back(read_mtdc_converter(l));
    }
    for (int k = 0; k < n[1]; ++k) {
        next_mtdc_line(r, l, d, ++m, count, layout(r, Rec::mtdc_bus));
        d.buses.push_back(read_mtdc_bus(l));
    }
    for (int k = 0; k < n[2]; ++k) {
        next_mtdc_line(r, l, d, ++m, count, layout(r, Rec::mtdc_link));
        d.links.push_back(read_mtdc_link(l));
    }
    l.layout = &layout(r, Rec::mtdc_line);
    check_dc_buses(r, d);
    check_converters(r, d);
    c.multi_terminal_dc.push_back(std::move(d));
}

} // namespace rawread
