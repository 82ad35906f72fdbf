#include "monitor/select.h"

#include "contingency/ctg_list.h"
#include "io/printable.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <set>
#include <unordered_map>
#include <utility>

namespace {

using Membership = std::vector<char>; // by bus index: 1 in the subsystem

std::string upper(std::string s)
{
    for (char &c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

// What the search carries: the network's branches by every RAW bus they
// name, the labels its buses have, each subsystem's membership, and the
// warnings with their lines (sorted by line at the end).
struct Finder {
    const MonitorFile &mon;
    const Network &net;
    std::unordered_map<int, std::vector<int>> at_bus;
    std::set<int> areas, zones, owners;
    std::vector<Membership> members; // by subsystem, file order
    std::vector<std::pair<int, std::string>> warnings;

    Finder(const MonitorFile &s, const Network &n) : mon(s), net(n)
    {
        for (int b = 0; b < net.raw_buses; ++b) {
            areas.insert(net.buses[b].area);
            zones.insert(net.buses[b].zone);
            owners.insert(net.buses[b].owner);
        }
        for (std::size_t k = 0; k < net.branches.size(); ++k) {
            const NetBranch &br = net.branches[k];
            for (const int bus : std::set<int>{br.from_bus, br.to_bus, br.third_bus}) {
                if (bus != 0) {
                    at_bus[bus].push_back(static_cast<int>(k));
                }
            }
        }
    }

    void warn(int line, const std::string &what) { warnings.emplace_back(line, what); }

    // The membership of the subsystem named `name` (none for a name the
    // file does not define, which its reader refuses).
    Membership of(const std::string &name) const
    {
        for (std::size_t s = 0; s < mon.subsystems.size(); ++s) {
            if (upper(mon.subsystems[s].name) == upper(name)) {
                return members[s];
            }
        }
        return Membership(net.buses.size(), 0);
    }
};

bool holds(const std::vector<int> &values, int v) { return std::find(values.begin(), values.end(), v) != values.end(); }

bool selects(const MonitorCriterion &c, const NetBus &b)
{
    using K = MonitorCriterion::Kind;
    switch (c.kind) {
    case K::area:
        return holds(c.values, b.area);
    case K::zone:
        return holds(c.values, b.zone);
    case K::owner:
        return holds(c.values, b.owner);
    case K::bus:
        return holds(c.values, b.number);
    case K::kv_range:
        return b.base_kv >= c.kv_low && b.base_kv <= c.kv_high;
    }
    return false;
}

// A warning for each value of `c` that no bus of the network has.
void check_values(Finder &f, const MonitorCriterion &c)
{
    using K = MonitorCriterion::Kind;
    for (const int v : c.values) {
        const bool known = c.kind == K::area    ? f.areas.count(v) != 0
                           : c.kind == K::zone  ? f.zones.count(v) != 0
                           : c.kind == K::owner ? f.owners.count(v) != 0
                                                : f.net.index.count(v) != 0;
        if (!known) {
            const char *what = c.kind == K::area    ? "area"
                               : c.kind == K::zone  ? "zone"
                               : c.kind == K::owner ? "owner"
                                                    : "bus";
            f.warn(c.line, std::string("no ") + what + " " + std::to_string(v) + " in the network");
        }
    }
}

// A subsystem's buses: a RAW bus that any criterion selects, or every
// criterion of one non-empty JOIN group; a star point as its winding 1's bus.
Membership subsystem_buses(Finder &f, const MonitorSubsystem &s)
{
    const Network &net = f.net;
    Membership in(net.buses.size(), 0);
    for (const MonitorCriterion &c : s.criteria) {
        check_values(f, c);
    }
    for (const MonitorJoin &j : s.joins) {
        for (const MonitorCriterion &c : j.criteria) {
            check_values(f, c);
        }
    }
    for (int b = 0; b < net.raw_buses; ++b) {
        const NetBus &bus = net.buses[b];
        const auto one = [&](const MonitorCriterion &c) { return selects(c, bus); };
        bool sel = std::any_of(s.criteria.begin(), s.criteria.end(), one);
        for (const MonitorJoin &j : s.joins) {
            sel = sel || (!j.criteria.empty() && std::all_of(j.criteria.begin(), j.criteria.end(), one));
        }
        in[b] = sel ? 1 : 0;
    }
    if (std::find(in.begin(), in.end(), 1) == in.end()) {
        f.warn(s.line, "subsystem '" + s.name + "' holds no bus of the network");
    }
    for (const NetBranch &br : net.branches) {
        if (br.kind == BranchKind::winding && br.winding == 1) {
            in[br.own_t] = in[br.own_f];
        }
    }
    return in;
}

std::string branch_text(const MonitorBranch &b)
{
    std::string s = "branch from bus " + std::to_string(b.i) + " to bus " + std::to_string(b.j);
    if (b.k != 0) {
        s += " to bus " + std::to_string(b.k);
    }
    return s + " circuit " + b.ckt;
}

// The branches `b` names, each with the end it is taken at: a branch
// between buses i and j (either way round, at_to where it is stored j to
// i), or, with k, the windings of the 3-winding unit of buses i, j, k (in
// any order), at_to never set. With `first_only` (an interface member) a
// 3-winding unit gives only its winding at bus i.
std::vector<InterfaceBranch> find_branch(Finder &f, const MonitorBranch &b, bool first_only)
{
    std::vector<InterfaceBranch> found;
    const auto it = f.at_bus.find(b.i);
    for (const int k : it == f.at_bus.end() ? std::vector<int>() : it->second) {
        const NetBranch &br = f.net.branches[k];
        if (!same_id(br.ckt, b.ckt)) {
            continue;
        }
        if (b.k == 0 && br.kind != BranchKind::winding) {
            if (br.from_bus == b.i && br.to_bus == b.j) {
                found.push_back({k, false});
            } else if (br.from_bus == b.j && br.to_bus == b.i) {
                found.push_back({k, true});
            }
        } else if (b.k != 0 && br.kind == BranchKind::winding) {
            std::array<int, 3> want = {b.i, b.j, b.k};
            std::array<int, 3> have = {br.from_bus, br.to_bus, br.third_bus};
            std::sort(want.begin(), want.end());
            std::sort(have.begin(), have.end());
            if (want == have && (!first_only || f.net.buses[br.own_f].number == b.i)) {
                found.push_back({k, false});
            }
        }
    }
    if (found.empty()) {
        f.warn(b.line, "no " + branch_text(b) + " in the network");
    }
    return found;
}

// The branches of one interface member line, each at its end.
std::vector<InterfaceBranch> member_branches(Finder &f, const MonitorMember &m)
{
    using K = MonitorMember::Kind;
    if (m.kind == K::branch) {
        return find_branch(f, m.branch, true);
    }
    const Network &net = f.net;
    std::vector<InterfaceBranch> found;
    const Membership in = m.kind == K::subsystem_ties ? f.of(m.subsystem) : Membership();
    for (std::size_t k = 0; k < net.branches.size(); ++k) {
        const NetBranch &br = net.branches[k];
        const int branch = static_cast<int>(k);
        if (m.kind == K::subsystem_ties) {
            if (in[br.own_f] != in[br.own_t]) {
                found.push_back({branch, in[br.own_t] != 0}); // at the end inside
            }
            continue;
        }
        const int af = net.buses[br.own_f].area;
        const int at = net.buses[br.own_t].area;
        if (af == at) {
            continue;
        }
        if (af == m.from_area && at == m.to_area) {
            found.push_back({branch, false});
        } else if (at == m.from_area && af == m.to_area) {
            found.push_back({branch, true});
        }
    }
    if (m.kind == K::area_ties) {
        for (const int a : {m.from_area, m.to_area}) {
            if (f.areas.count(a) == 0) {
                f.warn(m.line, "no area " + std::to_string(a) + " in the network");
            }
        }
        if (found.empty() && f.areas.count(m.from_area) != 0 && f.areas.count(m.to_area) != 0) {
            f.warn(m.line, "no tie from area " + std::to_string(m.from_area) + " to area " + std::to_string(m.to_area) +
                               " in the network");
        }
    }
    return found;
}

SelectedInterface select_interface(Finder &f, const MonitorInterface &mi)
{
    SelectedInterface si;
    si.name = mi.name;
    si.rating_mw = mi.rating_mw;
    si.line = mi.line;
    std::set<int> seen;
    for (const MonitorMember &m : mi.members) {
        for (const InterfaceBranch &b : member_branches(f, m)) {
            if (seen.insert(b.branch).second) {
                si.members.push_back(b);
            }
        }
    }
    return si;
}

// Monitored branches by branch index: BRANCHES IN, TIES FROM, BRANCH.
std::vector<int> monitored_branches(Finder &f)
{
    const Network &net = f.net;
    std::vector<char> on(net.branches.size(), 0);
    for (const MonitorUse &u : f.mon.branches_in) {
        const Membership in = f.of(u.subsystem);
        for (std::size_t k = 0; k < net.branches.size(); ++k) {
            if (in[net.branches[k].own_f] && in[net.branches[k].own_t]) {
                on[k] = 1;
            }
        }
    }
    for (const MonitorUse &u : f.mon.ties_from) {
        const Membership in = f.of(u.subsystem);
        for (std::size_t k = 0; k < net.branches.size(); ++k) {
            if (in[net.branches[k].own_f] != in[net.branches[k].own_t]) {
                on[k] = 1;
            }
        }
    }
    for (const MonitorBranch &b : f.mon.branches) {
        for (const InterfaceBranch &ib : find_branch(f, b, false)) {
            on[ib.branch] = 1;
        }
    }
    std::vector<int> list;
    for (std::size_t k = 0; k < on.size(); ++k) {
        if (on[k]) {
            list.push_back(static_cast<int>(k));
        }
    }
    return list;
}

// Each RAW bus's criteria, the later line of a kind over an earlier one.
std::vector<BusVoltageCriteria> voltage_criteria(const Finder &f)
{
    std::vector<BusVoltageCriteria> v(f.net.buses.size());
    for (const MonitorVoltageRange &r : f.mon.ranges) {
        const Membership in = f.of(r.subsystem);
        for (int b = 0; b < f.net.raw_buses; ++b) {
            if (in[b]) {
                v[b].range = true;
                v[b].vmin = r.vmin;
                v[b].vmax = r.vmax;
            }
        }
    }
    for (const MonitorVoltageDeviation &d : f.mon.deviations) {
        const Membership in = f.of(d.subsystem);
        for (int b = 0; b < f.net.raw_buses; ++b) {
            if (in[b]) {
                v[b].deviation = true;
                v[b].drop = d.drop;
                v[b].rise = d.rise;
            }
        }
    }
    return v;
}

} // namespace

MonitorSelection select_monitored(const MonitorFile &mon, const Network &net)
{
    Finder f(mon, net);
    MonitorSelection sel;
    for (const MonitorSubsystem &s : mon.subsystems) {
        f.members.push_back(subsystem_buses(f, s));
        SelectedSubsystem ss;
        ss.name = s.name;
        for (int b = 0; b < net.raw_buses; ++b) {
            if (f.members.back()[b]) {
                ss.buses.push_back(b);
            }
        }
        sel.subsystems.push_back(ss);
    }
    sel.branches = monitored_branches(f);
    for (const MonitorInterface &mi : mon.interfaces) {
        sel.interfaces.push_back(select_interface(f, mi));
    }
    sel.voltage = voltage_criteria(f);
    std::stable_sort(f.warnings.begin(), f.warnings.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &w : f.warnings) {
        sel.warnings.push_back(printable(mon.file + ":" + std::to_string(w.first) + ": " + w.second));
    }
    return sel;
}
