#include "network/control_setup.h"

#include "network/correction.h"
#include "raw/raw.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace {

constexpr double deg = M_PI / 180.0;

// Beyond this many distinct totals, ADJM 1 falls back to the input order.
constexpr std::size_t max_shunt_positions = 4096;

// Shunt positions of ADJM 0: from 0, the steps of one sign switched on in
// input order, block by block, a step at a time; the capacitors (B > 0)
// raise B, the reactors (B < 0) lower it. Both never at once.
std::vector<double> positions_in_input_order(const std::vector<ShuntBlock> &blocks)
{
    std::vector<double> p = {0.0};
    for (const int sign : {1, -1}) {
        double total = 0;
        for (const ShuntBlock &b : blocks) {
            if (b.status == 0 || b.b * sign <= 0) {
                continue;
            }
            for (int n = 0; n < b.steps; ++n) {
                total += b.b;
                p.push_back(total);
            }
        }
    }
    std::sort(p.begin(), p.end());
    return p;
}

// Shunt positions of ADJM 1: every total the steps of one sign can make,
// so that switching goes to the next higher or lower total whatever the
// blocks' order (a total within 1e-6 Mvar of another is the same one).
// Empty when they make more than max_shunt_positions.
std::vector<double> positions_by_size(const std::vector<ShuntBlock> &blocks)
{
    std::set<long long> all = {0};
    for (const int sign : {1, -1}) {
        std::set<long long> sums = {0};
        for (const ShuntBlock &b : blocks) {
            if (b.status == 0 || b.b * sign <= 0) {
                continue;
            }
            std::set<long long> next;
            for (const long long s : sums) {
                for (int n = 0; n <= b.steps; ++n) {
                    next.insert(s + std::llround(n * b.b * 1e6));
                }
            }
            sums = std::move(next);
            if (sums.size() > max_shunt_positions) {
                return {};
            }
        }
        all.insert(sums.begin(), sums.end());
    }
    std::vector<double> p(all.size());
    std::transform(all.begin(), all.end(), p.begin(), [](long long s) { return static_cast<double>(s) * 1e-6; });
    return p;
}

std::string at_line(const RawCase &raw, int line) { return raw.file + ":" + std::to_string(line) + ": "; }

// Index of an energised bus, or -1.
int find_bus(const Network &net, int number)
{
    const auto it = net.index.find(number);
    return it == net.index.end() ? -1 : it->second;
}

// Records left as read, for one note: how many, and the line of the first.
struct Skipped {
    int count = 0;
    int line = 0;
    void add(int at) { line = count++ == 0 ? at : line; }
};

// One note for every record of a kind left as read: "FILE:LINE: N what",
// at the first one; none when there is none.
void note_skipped(const RawCase &raw, Network &net, const Skipped &s, const std::string &what)
{
    if (s.count > 0) {
        net.notes.push_back(at_line(raw, s.line) + std::to_string(s.count) + what);
    }
}

// A switched shunt of MODSW 1 or 2 at bus index `bus` holding the voltage
// of bus index `reg`.
NetControl shunt_control(const SwitchedShunt &sh, int bus, int reg)
{
    NetControl c;
    c.kind = ControlKind::switched_shunt;
    c.bus = bus;
    c.reg = reg;
    c.lo = std::min(sh.vswlo, sh.vswhi);
    c.hi = std::max(sh.vswlo, sh.vswhi);
    for (const ShuntBlock &b : sh.blocks) {
        if (b.status != 0) {
            (b.b < 0 ? c.min : c.max) += b.steps * b.b;
        }
    }
    if (sh.modsw == 1) {
        c.positions = sh.adjm == 1 ? positions_by_size(sh.blocks) : std::vector<double>();
        if (c.positions.empty()) {
            c.positions = positions_in_input_order(sh.blocks);
        }
    }
    c.setting = c.read = sh.binit;
    c.sign = 1;
    c.id = sh.id;
    c.line = sh.line;
    return c;
}

// Switched shunts in service with MODSW 1 or 2 hold the voltage of SWREG
// (SWREM; 0: their own bus) within VSWLO..VSWHI, B within the sum of the
// reactor blocks .. the sum of the capacitor blocks.
void add_shunts(const RawCase &raw, Network &net)
{
    Skipped other;
    Skipped no_bus;
    for (const SwitchedShunt &sh : raw.switched_shunts) {
        const int bus = find_bus(net, sh.bus);
        if (bus < 0 || sh.status == 0 || sh.modsw == 0) {
            continue;
        }
        const int reg = sh.swreg != 0 ? find_bus(net, sh.swreg) : bus;
        if (sh.modsw != 1 && sh.modsw != 2) {
            other.add(sh.line);
        } else if (reg < 0) {
            no_bus.add(sh.line);
        } else {
            net.controls.push_back(shunt_control(sh, bus, reg));
        }
    }
    note_skipped(raw, net, other,
                 " switched shunt(s) with MODSW 3 to 6 (holding a unit's, a converter's or another shunt's output) are "
                 "not adjusted; they stay at BINIT");
    note_skipped(raw, net, no_bus,
                 " switched shunt(s) regulate a bus (SWREG) that is not in the network; they stay at BINIT");
}

// A winding's control, on the branch `k` built for it. COD 1 holds the
// voltage of bus |CONT| within VMI..VMA pu; by the RAW's convention CONT > 0
// is a bus on the winding-2 side (raising the ratio lowers its voltage) and
// CONT < 0 one on the winding-1 side (raising it raises the voltage), which
// sets `sign`. COD 2 holds the Mvar and COD 3 the MW flowing into the
// winding at its own bus within VMI..VMA; raising the ratio lowers that Q,
// raising the angle (a = tap·e^{j·shift} at the winding's bus) lowers that
// P. The ratio moves within RMI..RMA in NTP positions,
// (RMA − RMI)/(NTP − 1) apart. The angle of COD 3 moves continuously
// within RMI..RMA degrees: NTP counts tap positions of ratio controls
// (COD 1 and 2) only.
NetControl winding_control(const RawCase &raw, const Network &net, const Transformer &x, const Winding &w, int k,
                           int reg)
{
    const NetBranch &br = net.branches[static_cast<std::size_t>(k)];
    const int cod = w.cod;
    NetControl c;
    c.kind = cod == 1 ? ControlKind::tap_voltage : cod == 2 ? ControlKind::tap_reactive : ControlKind::phase_shifter;
    c.branch = k;
    c.reg = cod == 1 ? reg : -1;
    c.lo = std::min(w.vmi, w.vma);
    c.hi = std::max(w.vmi, w.vma);
    c.min = std::min(w.rmi, w.rma);
    c.max = std::max(w.rmi, w.rma);
    c.setting = c.read = cod == 3 ? w.ang_deg : w.windv;
    if (cod != 3 && w.ntp >= 2) {
        for (int n = 0; n < w.ntp; ++n) {
            c.positions.push_back(c.min + (c.max - c.min) * n / (w.ntp - 1));
        }
    }
    c.ratio_per_unit = cod == 3 ? 1.0 : br.tap / w.windv;
    c.sign = cod == 1 && w.cont < 0 ? 1 : -1;
    const auto t = std::find_if(raw.impedance_tables.begin(), raw.impedance_tables.end(),
                                [&w](const ImpedanceTable &it) { return it.number == w.tab; });
    if (w.tab > 0 && t != raw.impedance_tables.end()) {
        c.table = *t;
    }
    // ys as built = 1/(z·F(read)), whatever CZ and the windings' ratios
    // made of z.
    c.z = 1.0 / (br.ys * (c.table.points.empty() ? 1.0 : correction_factor(c.table, c.read)));
    c.line = x.line;
    return c;
}

// Branch index of every transformer winding by (RAW line, winding): 0 for
// a 2-winding unit, 1 to 3 for a 3-winding one's.
std::map<std::pair<int, int>, int> winding_branches(const Network &net)
{
    std::map<std::pair<int, int>, int> branch_of;
    for (std::size_t k = 0; k < net.branches.size(); ++k) {
        const NetBranch &br = net.branches[k];
        if (br.kind != BranchKind::line) {
            branch_of[{br.line, br.winding}] = static_cast<int>(k);
        }
    }
    return branch_of;
}

// Bus index whose voltage a COD 1 winding holds (|CONT|), -1 where CONT
// names none of the network; 0 for the other codes, which hold a flow.
int controlled_bus(const Network &net, const Winding &w)
{
    if (w.cod != 1) {
        return 0;
    }
    return w.cont != 0 ? find_bus(net, std::abs(w.cont)) : -1;
}

// Windings with a positive COD of 1 to 3; a negative COD is locked and
// stays as read.
void add_windings(const RawCase &raw, Network &net)
{
    const std::map<std::pair<int, int>, int> branch_of = winding_branches(net);
    Skipped other;
    Skipped no_bus;
    for (const Transformer &x : raw.transformers) {
        for (int n = 0; n < (x.k == 0 ? 1 : 3); ++n) {
            const Winding &w = x.windings.at(static_cast<std::size_t>(n));
            const auto k = branch_of.find({x.line, x.k == 0 ? 0 : n + 1});
            const int reg = controlled_bus(net, w);
            if (w.cod <= 0 || k == branch_of.end()) {
                continue;
            }
            if (w.cod > 3) {
                other.add(x.line);
            } else if (reg < 0) {
                no_bus.add(x.line);
            } else {
                net.controls.push_back(winding_control(raw, net, x, w, k->second, reg));
            }
        }
    }
    note_skipped(raw, net, other,
                 " transformer winding(s) with COD 4 or 5 (DC line or asymmetric flow control) are not adjusted; they "
                 "stay as read");
    note_skipped(raw, net, no_bus,
                 " transformer winding(s) with COD 1 name no controlled bus of the network (CONT); they stay as "
                 "read");
}

} // namespace

const char *control_kind_name(ControlKind k)
{
    switch (k) {
    case ControlKind::switched_shunt:
        return "switched_shunt";
    case ControlKind::tap_voltage:
        return "tap_voltage";
    case ControlKind::tap_reactive:
        return "tap_reactive";
    case ControlKind::phase_shifter:
        break;
    }
    return "phase_shifter";
}

void add_controls(const RawCase &raw, Network &net)
{
    add_shunts(raw, net);
    add_windings(raw, net);
}

NetBranch winding_at(const NetControl &ctl, const NetBranch &br, double x)
{
    NetBranch b = br;
    if (ctl.kind == ControlKind::phase_shifter) {
        b.shift = x * deg;
    } else {
        b.tap = x * ctl.ratio_per_unit;
    }
    b.ys = 1.0 / (ctl.z * (ctl.table.points.empty() ? 1.0 : correction_factor(ctl.table, x)));
    return b;
}

double set_control_setting(Network &net, int c, double x)
{
    NetControl &ctl = net.controls[static_cast<std::size_t>(c)];
    const double old = ctl.setting;
    ctl.setting = x;
    if (ctl.kind != ControlKind::switched_shunt) {
        NetBranch &br = net.branches[static_cast<std::size_t>(ctl.branch)];
        br = winding_at(ctl, br, x);
        return 0.0;
    }
    // B in Mvar at 1 pu; a bus joined by ties has its shunt at its node.
    const double db = (x - old) / net.sbase;
    net.buses[static_cast<std::size_t>(net.buses[static_cast<std::size_t>(ctl.bus)].node)].bs += db;
    if (!net.own.empty()) {
        net.own[static_cast<std::size_t>(ctl.bus)].bs += db;
    }
    return db;
}
