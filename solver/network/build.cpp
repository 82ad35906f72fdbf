#include "network/build.h"

#include "io/input_error.h"
#include "network/control_setup.h"
#include "network/correction.h"
#include "network/dclink.h"
#include "network/facts.h"
#include "network/mtdc.h"
#include "network/reg_groups.h"
#include "network/swing.h"
#include "network/ties.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace {

constexpr double deg = M_PI / 180.0;

// Off-nominal ratio of a winding, in pu of its bus's base voltage:
//   CW 1: WINDV itself; CW 2: WINDV kV / bus base kV;
//   CW 3: WINDV pu of NOMV (NOMV 0: the bus base), so WINDV·NOMV / bus base kV.
double winding_ratio(int cw, const Winding &w, double bus_kv)
{
    if (cw == 2 && bus_kv > 0) {
        return w.windv / bus_kv;
    }
    if (cw == 3 && w.nomv > 0 && bus_kv > 0) {
        return w.windv * w.nomv / bus_kv;
    }
    return w.windv;
}

// Winding impedance R + jX in pu on SBASE:
//   CZ 1: as given; CZ 2: pu on the winding MVA base, times SBASE/S_w;
//   CZ 3: R is the load loss in W, X the impedance magnitude in pu on S_w.
std::complex<double> winding_impedance(int cz, double r, double x, double s_w, double sbase)
{
    if (s_w <= 0) {
        s_w = sbase;
    }
    if (cz == 2) {
        return {r * sbase / s_w, x * sbase / s_w};
    }
    if (cz == 3) {
        double rw = r / 1e6 / s_w;
        double xw = std::sqrt(std::max(0.0, x * x - rw * rw));
        return {rw * sbase / s_w, xw * sbase / s_w};
    }
    return {r, x};
}

// Magnetizing admittance in pu on SBASE, at the winding-1 bus:
//   CM 1: G = MAG1, B = MAG2; CM 2: MAG1 the no-load loss in W, MAG2 the
//   exciting current in pu on S_12 (B inductive).
std::complex<double> magnetizing(const Transformer &x, double sbase)
{
    if (x.cm == 2) {
        double s_w = x.sbase12 > 0 ? x.sbase12 : sbase;
        double g = x.mag1 / 1e6 / sbase;
        double y = x.mag2 * s_w / sbase;
        return {g, -std::sqrt(std::max(0.0, y * y - g * g))};
    }
    return {x.mag1, x.mag2};
}

const ImpedanceTable *find_table(const RawCase &raw, int number)
{
    const auto it = std::find_if(raw.impedance_tables.begin(), raw.impedance_tables.end(),
                                 [number](const ImpedanceTable &t) { return t.number == number; });
    return it == raw.impedance_tables.end() ? nullptr : &*it;
}

// Impedance correction: where TAB names a table, R + jX scales by its factor
// at the winding's phase angle (|COD| = 3) or at its ratio WINDV (otherwise).
std::complex<double> table_factor(const RawCase &raw, const Winding &w)
{
    const ImpedanceTable *t = w.tab > 0 ? find_table(raw, w.tab) : nullptr;
    if (t == nullptr) {
        return 1.0;
    }
    return correction_factor(*t, std::abs(w.cod) == 3 ? w.ang_deg : w.windv);
}

void add_buses(const RawCase &raw, Network &net)
{
    for (const Bus &b : raw.buses) {
        if (b.ide == 4) {
            ++net.isolated_dropped;
            continue;
        }
        NetBus nb;
        nb.number = b.number;
        nb.name = b.name;
        nb.base_kv = b.base_kv;
        nb.kind = b.ide == 3 ? BusKind::slack : b.ide == 2 ? BusKind::pv : BusKind::pq;
        nb.vm0 = b.vm;
        nb.va0 = b.va_deg * deg;
        nb.vs = b.vm;
        nb.nvhi = b.nvhi;
        nb.nvlo = b.nvlo;
        nb.evhi = b.evhi;
        nb.evlo = b.evlo;
        nb.area = b.area;
        nb.zone = b.zone;
        nb.owner = b.owner;
        nb.line = b.line;
        nb.node = static_cast<int>(net.buses.size());
        net.index[b.number] = nb.node;
        net.buses.push_back(nb);
    }
    net.raw_buses = static_cast<int>(net.buses.size());
}

// Index of an energised bus, or -1 for an isolated (dropped) one.
int bus_index(const Network &net, int number)
{
    auto it = net.index.find(number);
    return it == net.index.end() ? -1 : it->second;
}

// Loads, fixed and switched shunts of energised buses, kept one by one and
// those in service summed per bus, in pu.
void add_loads_and_shunts(const RawCase &raw, Network &net)
{
    const double s = raw.sbase;
    for (const Load &l : raw.loads) {
        int i = bus_index(net, l.bus);
        if (i < 0) {
            continue;
        }
        net.loads.push_back(
            {i, l.id, l.pl / s, l.ql / s, l.ip / s, l.iq / s, l.yp / s, l.yq / s, l.status != 0, l.line});
        if (l.status == 0) {
            continue;
        }
        NetBus &b = net.buses[i];
        b.pd += l.pl / s;
        b.qd += l.ql / s;
        b.ip += l.ip / s;
        b.iq += l.iq / s;
        b.yp += l.yp / s;
        b.yq += l.yq / s;
    }
    for (const FixedShunt &sh : raw.fixed_shunts) {
        int i = bus_index(net, sh.bus);
        if (i < 0) {
            continue;
        }
        net.shunts.push_back({i, sh.id, sh.gl / s, sh.bl / s, false, sh.status != 0, sh.line});
        if (sh.status != 0) {
            net.buses[i].gs += sh.gl / s;
            net.buses[i].bs += sh.bl / s;
        }
    }
    for (const SwitchedShunt &sh : raw.switched_shunts) {
        int i = bus_index(net, sh.bus);
        if (i < 0) {
            continue;
        }
        net.shunts.push_back({i, sh.id, 0.0, sh.binit / s, true, sh.status != 0, sh.line});
        if (sh.status != 0) {
            net.buses[i].bs += sh.binit / s;
        }
    }
}

// Units of energised buses. The in-service ones set their bus's schedule
// (sums of PG, QG, QT, QB) and set-point (the first unit's VS); an IDE 2 bus
// with none of them carries no voltage control and is a load bus. Every
// IDE 3 bus is a slack bus holding its RAW angle; one with no unit in
// service is an ideal source at its RAW VM.
void add_units(const RawCase &raw, Network &net)
{
    const double s = raw.sbase;
    std::vector<int> units_on(net.buses.size(), 0);
    for (const Unit &u : raw.units) {
        int i = bus_index(net, u.bus);
        if (i < 0) {
            continue;
        }
        NetUnit nu{i,
                   u.id,
                   u.pg / s,
                   u.qg / s,
                   u.qt / s,
                   u.qb / s,
                   u.vs,
                   u.pt / s,
                   u.status != 0,
                   u.line,
                   u.ireg == u.bus ? 0 : u.ireg,
                   u.rmpct,
                   u.pb / s,
                   u.wmod};
        net.units.push_back(nu);
        if (!nu.in_service) {
            continue;
        }
        NetBus &b = net.buses[i];
        if (units_on[i]++ == 0) {
            b.vs = u.vs;
            b.rmpct = nu.rmpct;
        }
        b.pg += nu.pg;
        b.qg += nu.qg;
        b.qmax += nu.qt;
        b.qmin += nu.qb;
        if (u.ireg != 0 && u.ireg != u.bus) {
            ++net.remote_ireg;
        }
    }
    for (size_t i = 0; i < net.buses.size(); ++i) {
        NetBus &b = net.buses[i];
        if (b.kind == BusKind::pv && units_on[i] == 0) {
            b.kind = BusKind::pq;
        }
        if (b.kind == BusKind::slack) {
            net.slack = net.slacks.empty() ? static_cast<int>(i) : net.slack;
            net.slacks.push_back(static_cast<int>(i));
            b.ideal_source = units_on[i] == 0;
        }
    }
}

std::string branch_name(int from, int to, const std::string &ckt)
{
    return std::to_string(from) + "-" + std::to_string(to) + "-" + ckt;
}

std::complex<double> series_admittance(std::complex<double> z, const RawCase &raw, int line, const std::string &what)
{
    if (std::abs(z) == 0.0) {
        throw InputError(raw.file, line, what + " has zero impedance (R = X = 0)");
    }
    return 1.0 / z;
}

// A transformer as a branch record (up to revision 25): its table's factor
// at ANGLE for a phase shifter (RATIO 0 or 1, ANGLE not 0), else at RATIO.
std::complex<double> branch_table_factor(const RawCase &raw, const Branch &br, double tap)
{
    const ImpedanceTable *t = br.tab > 0 ? find_table(raw, br.tab) : nullptr;
    if (t == nullptr) {
        return 1.0;
    }
    return correction_factor(*t, br.angle_deg != 0 && tap == 1.0 ? br.angle_deg : tap);
}

// Whether a branch record is a tie: a line (not a transformer) whose
// |R + jX| is below the threshold, or a system switching device, whatever
// its X. In service or not: an open one never closes.
bool is_tie(const Branch &br, bool transformer, double threshold)
{
    return br.switching_device || (!transformer && std::abs(std::complex<double>(br.r, br.x)) < threshold);
}

// Lines: series R + jX, charging B split between the ends, line shunts
// GI + jBI and GJ + jBJ at their own ends. A branch record with a RATIO or
// ANGLE (revisions up to 25) is a transformer: the ideal ratio RATIO·e^{jANGLE}
// at bus I (RATIO 0 reads as 1), then the same pi. A tie keeps ys = 0
// (network/ties.h). A branch touching an isolated bus is dropped, in service
// or not.
void add_lines(const RawCase &raw, Network &net, double threshold)
{
    for (const Branch &br : raw.branches) {
        int f = bus_index(net, br.from);
        int t = bus_index(net, br.to);
        if (f < 0 || t < 0) {
            continue;
        }
        const bool transformer = br.ratio != 0 || br.angle_deg != 0;
        const double tap = br.ratio != 0 ? br.ratio : 1.0;
        if (!(tap > 0)) {
            throw InputError(raw.file, br.line,
                             "branch " + branch_name(br.from, br.to, br.ckt) + " has a RATIO that is not positive");
        }
        NetBranch nb;
        nb.f = nb.own_f = f;
        nb.t = nb.own_t = t;
        nb.tie = is_tie(br, transformer, threshold);
        const std::complex<double> z = std::complex<double>(br.r, br.x) * branch_table_factor(raw, br, tap);
        if (!transformer && z == 0.0 && !nb.tie) {
            throw InputError(raw.file, br.line,
                             "branch " + branch_name(br.from, br.to, br.ckt) +
                                 " has zero impedance (R = X = 0); with zero_impedance_threshold_pu above 0 it is a "
                                 "tie");
        }
        if (!nb.tie) {
            nb.ys = series_admittance(z, raw, br.line, "branch " + branch_name(br.from, br.to, br.ckt));
        }
        // A transformer's B is its magnetizing susceptance, at bus I.
        nb.bc = transformer ? 0.0 : br.b;
        nb.ysh_f = {br.gi, br.bi + (transformer ? br.b : 0.0)};
        nb.ysh_t = {br.gj, br.bj};
        nb.tap = tap;
        nb.shift = br.angle_deg * deg;
        nb.rate = br.rate;
        nb.in_service = br.status != 0;
        nb.kind = transformer ? BranchKind::transformer : BranchKind::line;
        nb.from_bus = br.from;
        nb.to_bus = br.to;
        nb.ckt = br.ckt;
        nb.line = br.line;
        net.branches.push_back(nb);
    }
}

void check_ratio(const RawCase &raw, const Transformer &x, double ratio)
{
    if (!(ratio > 0)) {
        throw InputError(raw.file, x.line,
                         "transformer " + branch_name(x.i, x.j, x.ckt) + " has a winding ratio that is not positive");
    }
}

// A 2-winding transformer: bus I —[t1:1]— Z —[1:t2]— bus J. Moving t2 to
// the I side gives one pi branch with ratio t1/t2 and impedance Z·t2².
void add_two_winding(const RawCase &raw, const Transformer &x, int f, int t, Network &net)
{
    const Winding &w1 = x.windings[0];
    const Winding &w2 = x.windings[1];
    double t1 = winding_ratio(x.cw, w1, net.buses[f].base_kv);
    double t2 = winding_ratio(x.cw, w2, net.buses[t].base_kv);
    check_ratio(raw, x, t1);
    check_ratio(raw, x, t2);
    std::complex<double> z = winding_impedance(x.cz, x.r12, x.x12, x.sbase12, raw.sbase) * table_factor(raw, w1);
    NetBranch nb;
    nb.f = nb.own_f = f;
    nb.t = nb.own_t = t;
    nb.ys = series_admittance(z * t2 * t2, raw, x.line, "transformer " + branch_name(x.i, x.j, x.ckt));
    nb.ysh_f = magnetizing(x, raw.sbase);
    nb.tap = t1 / t2;
    nb.shift = w1.ang_deg * deg;
    nb.rate = w1.rate;
    nb.in_service = x.status != 0;
    nb.kind = BranchKind::transformer;
    nb.from_bus = x.i;
    nb.to_bus = x.j;
    nb.ckt = x.ckt;
    nb.line = x.line;
    net.branches.push_back(nb);
}

// A 3-winding transformer: a star point joined to each winding's bus by a
// branch with that winding's ratio and angle. The star impedances come from
// the pairwise ones (each on SBASE):
//   Z1 = (Z12 + Z31 − Z23)/2,  Z2 = (Z12 + Z23 − Z31)/2,  Z3 = (Z23 + Z31 − Z12)/2.
// STAT: 0 all out, 1 all in, 2/3/4 only winding 2/3/1 out.
void add_three_winding(const RawCase &raw, const Transformer &x, const std::array<int, 3> &bus, Network &net)
{
    const bool corrected =
        std::any_of(x.windings.begin(), x.windings.end(), [](const Winding &w) { return w.tab != 0; });
    if (x.zcod == 1 && corrected) {
        throw InputError(raw.file, x.line,
                         "transformer " + branch_name(x.i, x.j, x.ckt) +
                             ": ZCOD 1 (impedance corrections to the bus-to-bus impedances) is not modelled; "
                             "ZCOD 0 (to the winding impedances) is");
    }
    std::complex<double> z12 = winding_impedance(x.cz, x.r12, x.x12, x.sbase12, raw.sbase);
    std::complex<double> z23 = winding_impedance(x.cz, x.r23, x.x23, x.sbase23, raw.sbase);
    std::complex<double> z31 = winding_impedance(x.cz, x.r31, x.x31, x.sbase31, raw.sbase);
    std::array<std::complex<double>, 3> zs = {(z12 + z31 - z23) / 2.0, (z12 + z23 - z31) / 2.0,
                                              (z23 + z31 - z12) / 2.0};
    NetBus star;
    star.name = x.name;
    star.base_kv = 1.0;
    star.vm0 = x.vmstar;
    star.va0 = x.anstar_deg * deg;
    star.area = net.buses[bus[0]].area;
    star.zone = net.buses[bus[0]].zone;
    star.owner = net.buses[bus[0]].owner;
    star.line = x.line;
    int s = static_cast<int>(net.buses.size());
    star.node = s;
    net.buses.push_back(star);
    const int out_winding = x.status == 2 ? 1 : x.status == 3 ? 2 : x.status == 4 ? 0 : -1;
    for (int k = 0; k < 3; ++k) {
        const Winding &w = x.windings[k];
        double tk = winding_ratio(x.cw, w, net.buses[bus[k]].base_kv);
        check_ratio(raw, x, tk);
        NetBranch nb;
        nb.f = nb.own_f = bus[k];
        nb.t = nb.own_t = s;
        std::complex<double> z = zs[k] * table_factor(raw, w);
        nb.ys = series_admittance(z, raw, x.line, "transformer " + branch_name(x.i, x.j, x.ckt));
        if (k == 0) {
            nb.ysh_f = magnetizing(x, raw.sbase);
        }
        nb.tap = tk;
        nb.shift = w.ang_deg * deg;
        nb.rate = w.rate;
        nb.in_service = x.status != 0 && k != out_winding;
        nb.kind = BranchKind::winding;
        nb.from_bus = x.i;
        nb.to_bus = x.j;
        nb.third_bus = x.k;
        nb.ckt = x.ckt;
        nb.winding = k + 1;
        nb.line = x.line;
        net.branches.push_back(nb);
    }
}

// A note for a transformer whose R, read as pu (CZ 1 or 2), is above
// 1000 pu: next to nothing flows through it, and the number reads like a
// load loss in W, which is CZ 3's meaning.
void note_implausible_resistance(const RawCase &raw, const Transformer &x, Network &net)
{
    constexpr double most_pu = 1000;
    if (x.cz == 3) {
        return;
    }
    const std::array<std::pair<const char *, double>, 3> rs{{{"R1-2", x.r12}, {"R2-3", x.r23}, {"R3-1", x.r31}}};
    for (std::size_t k = 0; k < (x.k == 0 ? 1U : 3U); ++k) {
        if (rs.at(k).second > most_pu) {
            char value[64];
            std::snprintf(value, sizeof value, "%g", rs.at(k).second);
            net.notes.push_back(raw.file + ":" + std::to_string(x.line) + ": transformer " +
                                branch_name(x.i, x.j, x.ckt) + ": " + rs.at(k).first + " = " + value + " pu (CZ " +
                                std::to_string(x.cz) +
                                ") is above 1000 pu, so next to nothing flows through it; it reads like a load loss "
                                "in W, as CZ 3 would give it");
            return;
        }
    }
}

// Transformers touching an isolated bus are dropped whole.
void add_transformers(const RawCase &raw, Network &net)
{
    for (const Transformer &x : raw.transformers) {
        int i = bus_index(net, x.i);
        int j = bus_index(net, x.j);
        int k = x.k != 0 ? bus_index(net, x.k) : 0;
        if (i < 0 || j < 0 || k < 0) {
            continue;
        }
        note_implausible_resistance(raw, x, net);
        if (x.k == 0) {
            add_two_winding(raw, x, i, j, net);
        } else {
            add_three_winding(raw, x, {i, j, k}, net);
        }
    }
}

} // namespace

Network build_network(const RawCase &raw, double zero_impedance_threshold_pu, bool remote_regulation, bool auto_swing)
{
    Network net;
    net.remote_regulation = remote_regulation;
    net.file = raw.file;
    net.sbase = raw.sbase;
    add_buses(raw, net);
    add_loads_and_shunts(raw, net);
    add_units(raw, net);
    add_lines(raw, net, zero_impedance_threshold_pu);
    add_transformers(raw, net);
    add_facts(raw, net, zero_impedance_threshold_pu);
    add_dc_links(raw, net);
    add_mtdc_lines(raw, net);
    add_swings(net, auto_swing);
    join_ties(net);
    add_regulation(net);
    add_controls(raw, net);
    return net;
}

ElementIndex index_elements(const Network &net)
{
    ElementIndex x;
    for (std::size_t k = 0; k < net.branches.size(); ++k) {
        const NetBranch &br = net.branches[k];
        std::array<int, 5> named = {br.from_bus, br.to_bus, br.third_bus, net.buses[br.own_f].number,
                                    net.buses[br.own_t].number};
        std::sort(named.begin(), named.end());
        for (std::size_t n = 0; n < named.size(); ++n) {
            if (named[n] != 0 && (n == 0 || named[n] != named[n - 1])) {
                x.branches[named[n]].push_back(static_cast<int>(k));
            }
        }
    }
    // A FACTS device's unit and loads are reached through the device alone.
    for (std::size_t u = 0; u < net.units.size(); ++u) {
        if (net.units[u].facts < 0) {
            x.units[net.buses[net.units[u].bus].number].push_back(static_cast<int>(u));
        }
    }
    for (std::size_t k = 0; k < net.loads.size(); ++k) {
        if (net.loads[k].facts < 0) {
            x.loads[net.buses[net.loads[k].bus].number].push_back(static_cast<int>(k));
        }
    }
    for (std::size_t k = 0; k < net.shunts.size(); ++k) {
        x.shunts[net.buses[net.shunts[k].bus].number].push_back(static_cast<int>(k));
    }
    return x;
}

const std::vector<int> &at_bus(const std::unordered_map<int, std::vector<int>> &map, int number)
{
    static const std::vector<int> none;
    const auto it = map.find(number);
    return it == map.end() ? none : it->second;
}
