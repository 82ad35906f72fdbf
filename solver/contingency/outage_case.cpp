#include "contingency/outage_case.h"

#include "network/islands.h"
#include "network/ties.h"
#include "powerflow/dc_rounds.h"
#include "powerflow/remote_regulation.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

void add_note(std::string &note, const std::string &more) { note += (note.empty() ? "" : "; ") + more; }

namespace {

// Schedule of bus b (a node's representative: the units of all its
// members) from its in-service units, leaving out unit `removed`.
// Returns how many units remain; pg, qmax, qmin, vs and the largest-PT sum
// are updated.
int reschedule_bus(const Network &net, int b, int removed, BusSchedule &sch, double &qg_sum)
{
    int count = 0;
    sch.pg[b] = sch.qmax[b] = sch.qmin[b] = qg_sum = 0;
    const bool shares = !sch.rmpct.empty();
    std::vector<int> plants; // own buses whose share is counted
    const auto seen = [&plants](int bus) { return std::find(plants.begin(), plants.end(), bus) != plants.end(); };
    if (shares) {
        sch.rmpct[b] = 0;
    }
    for (size_t u = 0; u < net.units.size(); ++u) {
        const NetUnit &nu = net.units[u];
        if (net.buses[nu.bus].node != b || !nu.in_service || static_cast<int>(u) == removed) {
            continue;
        }
        if (count++ == 0) {
            sch.vs[b] = nu.vs;
        }
        // A plant's share (RMPCT) is its bus's first unit's; a node's is
        // the sum of its buses'.
        if (shares && !seen(nu.bus)) {
            sch.rmpct[b] += nu.rmpct;
            plants.push_back(nu.bus);
        }
        sch.pg[b] += nu.pg;
        qg_sum += nu.qg;
        sch.qmax[b] += nu.qt;
        sch.qmin[b] += nu.qb;
    }
    return count;
}

// Total PT of the in-service units of every bus (of every node, at its
// representative), leaving out unit `removed`.
std::vector<double> total_pt(const Network &net, int removed, std::vector<int> &units_on)
{
    std::vector<double> pt(net.buses.size(), 0.0);
    units_on.assign(net.buses.size(), 0);
    for (size_t u = 0; u < net.units.size(); ++u) {
        const NetUnit &nu = net.units[u];
        if (nu.in_service && static_cast<int>(u) != removed) {
            const int b = net.buses[nu.bus].node;
            pt[b] += nu.pt;
            ++units_on[b];
        }
    }
    return pt;
}

// The part of each base-case island to keep after an outage: where the
// outage split an island, its part with the most RAW buses (on a tie the one
// holding a slack bus, else the one holding the lowest bus number); every
// other island of the base case stays whole.
std::vector<char> parts_to_keep(const Network &net, const BaseCase &base, const std::vector<int> &part, int count)
{
    const auto n = static_cast<std::size_t>(count);
    std::vector<int> size(n, 0);
    std::vector<int> lowest(n, INT_MAX);
    std::vector<int> base_of(n, -1);
    std::vector<char> has_slack(n, 0);
    for (size_t i = 0; i < net.buses.size(); ++i) {
        if (part[i] < 0) {
            continue;
        }
        const auto c = static_cast<std::size_t>(part[i]);
        base_of[c] = base.island[i];
        if (static_cast<int>(i) < net.raw_buses) {
            ++size[c];
            lowest[c] = std::min(lowest[c], net.buses[i].number);
        }
    }
    for (const int s : net.slacks) {
        if (part[s] >= 0) {
            has_slack[static_cast<std::size_t>(part[s])] = 1;
        }
    }
    std::vector<int> best(*std::max_element(base_of.begin(), base_of.end()) + 1, -1);
    for (size_t c = 0; c < n; ++c) {
        int &b = best[static_cast<std::size_t>(base_of[c])];
        if (b < 0) {
            b = static_cast<int>(c);
            continue;
        }
        const auto k = static_cast<std::size_t>(b);
        if (size[c] > size[k] || (size[c] == size[k] && (has_slack[c] > has_slack[k] ||
                                                         (has_slack[c] == has_slack[k] && lowest[c] < lowest[k])))) {
            b = static_cast<int>(c);
        }
    }
    std::vector<char> keep(n, 0);
    for (const int b : best) {
        if (b >= 0) {
            keep[static_cast<std::size_t>(b)] = 1;
        }
    }
    return keep;
}

// Cuts off every part that parts_to_keep does not keep; returns the RAW
// buses cut off, adds their load to load_mw and leaves in `part` the island
// of every bus kept (-1 for the rest). all: the base case's branches at
// each bus where net is the base network, else null.
int cut_islands(const Network &net, const BaseCase &base, const std::vector<char> &on, BusSchedule &sch,
                std::vector<signed char> &held, double &load_mw, std::vector<int> &part, const BusBranches *all)
{
    const int count = find_islands(net, on, sch.kind, part, all);
    if (count <= 1) {
        return 0;
    }
    const std::vector<char> keep = parts_to_keep(net, base, part, count);
    int cut = 0;
    for (size_t i = 0; i < net.buses.size(); ++i) {
        if (part[i] < 0 || keep[static_cast<std::size_t>(part[i])] != 0) {
            continue;
        }
        part[i] = -1;
        sch.kind[i] = BusKind::off;
        held[i] = 0;
        if (static_cast<int>(i) < net.raw_buses) {
            const NetBus &b = net.buses[i];
            ++cut;
            load_mw += (b.pd + b.ip + b.yp) * net.sbase;
        }
    }
    return cut;
}

// Whether opening these branches can split the network: not when they are
// out already, nor when the only one in service is no bridge.
bool may_split(const BaseCase &base, const std::vector<int> &branches)
{
    int opened = 0;
    bool bridge = false;
    for (int k : branches) {
        opened += base.on[k] ? 1 : 0;
        bridge = bridge || (base.on[k] && base.bridge[k]);
    }
    return opened > 1 || bridge;
}

// Whether bus i is energised and holds a voltage with units in service
// (its own, or a remote one): a candidate for a new slack.
bool voltage_controlling(const Network &net, const BusSchedule &sch, const std::vector<int> &units_on, int i)
{
    const BusKind k = net.buses[i].kind;
    return sch.kind[i] != BusKind::off && (k == BusKind::pv || k == BusKind::reg) && units_on[i] > 0;
}

// Every island solved needs a slack bus. A slack bus cut off, or left with
// no unit (an ideal source, a slack with no unit in the RAW, has none to
// lose), no longer is one; one still energised becomes a load bus. In an
// island left without a slack, the voltage-controlled bus with the largest
// total PT of in-service units (lowest bus number on a tie) becomes the
// slack at its base-case angle and its set-point. Appends the new slacks to
// `moved`; false when an island has no unit left to be its slack.
bool choose_slacks(const Network &net, int removed, const std::vector<int> &island, BusSchedule &sch,
                   std::vector<signed char> &held, Voltages &v, std::vector<int> &moved)
{
    std::vector<int> units_on;
    const std::vector<double> pt = total_pt(net, removed, units_on);
    const int count = 1 + *std::max_element(island.begin(), island.end());
    std::vector<char> has_slack(static_cast<std::size_t>(std::max(count, 0)), 0);
    std::vector<int> best(has_slack.size(), -1);
    for (const int s : net.slacks) {
        if (sch.kind[s] == BusKind::off) {
            continue;
        }
        if (units_on[s] > 0 || net.buses[s].ideal_source) {
            has_slack[static_cast<std::size_t>(island[s])] = 1;
        } else {
            sch.kind[s] = BusKind::pq; // with no unit left: no generation
            sch.pg[s] = sch.qgen[s] = 0;
        }
    }
    for (int i = 0; i < net.raw_buses; ++i) {
        if (!voltage_controlling(net, sch, units_on, i)) {
            continue;
        }
        int &b = best[static_cast<std::size_t>(island[i])];
        if (b < 0 || pt[i] > pt[b] || (pt[i] == pt[b] && net.buses[i].number < net.buses[b].number)) {
            b = i;
        }
    }
    std::vector<char> energised(has_slack.size(), 0);
    for (size_t i = 0; i < net.buses.size(); ++i) {
        if (sch.kind[i] != BusKind::off && island[i] >= 0) {
            energised[static_cast<std::size_t>(island[i])] = 1;
        }
    }
    for (size_t c = 0; c < has_slack.size(); ++c) {
        if (energised[c] == 0 || has_slack[c] != 0) {
            continue;
        }
        const int b = best[c];
        if (b < 0) {
            return false;
        }
        sch.kind[b] = BusKind::slack;
        held[b] = 0;
        v.vm[b] = sch.vs[b];
        moved.push_back(b);
    }
    return true;
}

// Takes unit u out of its bus's schedule. A bus left without units loses
// its voltage control; a held bus stays held at its remaining units' limit.
void remove_unit(const Network &net, int u, BusSchedule &sch, std::vector<signed char> &held)
{
    const int b = net.buses[net.units[u].bus].node;
    double qg = 0;
    const int left = reschedule_bus(net, b, u, sch, qg);
    if (sch.kind[b] == BusKind::off || sch.kind[b] == BusKind::slack) {
        return;
    }
    if (left == 0) {
        sch.kind[b] = BusKind::pq;
        sch.qgen[b] = 0;
        held[b] = 0;
    } else if (held[b] != 0) {
        sch.qgen[b] = held[b] > 0 ? sch.qmax[b] : sch.qmin[b];
    } else if (sch.kind[b] == BusKind::pq) {
        sch.qgen[b] = qg;
    }
}

// y, a copy of the base Ybus, with the given branches opened and `closed`
// put in service: their stamps come out of (go into) the base matrix, whose
// pattern holds every branch; then the changes of its diagonal.
void switch_branches(const Network &net, const Outage &o, const std::vector<DiagonalChange> &dy, std::vector<char> &on,
                     Ybus &y)
{
    const auto stamp = [&](int k, double sign) {
        const NetBranch &br = net.branches[k];
        const BranchStamp s = branch_stamp(br, true);
        y.coeffRef(br.f, br.f) += sign * s.yff;
        y.coeffRef(br.f, br.t) += sign * s.yft;
        y.coeffRef(br.t, br.f) += sign * s.ytf;
        y.coeffRef(br.t, br.t) += sign * s.ytt;
        on[k] = sign > 0 ? 1 : 0;
    };
    for (const int k : o.branches) {
        if (on[k]) {
            stamp(k, -1.0);
        }
    }
    for (const int k : o.closed) {
        if (!on[k]) {
            stamp(k, 1.0);
        }
    }
    for (const DiagonalChange &d : dy) {
        y.coeffRef(d.bus, d.bus) += d.dy;
    }
}

void open_in_base(const Network &net, const BaseCase &base, const Outage &o, const std::vector<DiagonalChange> &dy,
                  OutageCase &c)
{
    c.net = &net;
    c.on = base.on;
    c.y = base.y;
    switch_branches(net, o, dy, c.on, c.y);
    c.sch = base.sol.sch;
    c.held = base.sol.held;
    c.v = base.sol.v;
    if (o.unit >= 0) {
        remove_unit(net, o.unit, c.sch, c.held);
    }
    c.may_split = may_split(base, o.branches);
}

// Opening a tie splits its node (closing one joins two), so the network is
// rebuilt without (with) the switched branches. The buses of a node split
// or joined start from the rebuilt network's RAW schedule at the node's
// base-case voltage (a voltage-controlled bus at its VS, a slack at its RAW
// angle); every other bus starts as in the base case.
void open_rebuilt(const Network &net, const BaseCase &base, const Outage &o, OutageCase &c)
{
    c.rebuilt = without_branches(net, o.branches, o.closed);
    c.is_rebuilt = true;
    c.net = &c.rebuilt;
    c.on = branches_in_service(c.rebuilt);
    c.y = make_ybus(c.rebuilt, c.on);
    c.ws = make_workspace(c.y, c.rebuilt);
    c.sch = base.sol.sch;
    c.held = base.sol.held;
    c.v = base.sol.v;
    std::vector<char> &split = c.fresh;
    split.assign(net.buses.size(), 0);
    for (const int k : o.branches) {
        const NetBranch &br = net.branches[k];
        if (br.tie && br.in_service) {
            split[net.buses[br.own_f].node] = 1;
        }
    }
    for (const int k : o.closed) {
        const NetBranch &br = net.branches[k];
        if (br.tie && !br.in_service) {
            split[net.buses[br.own_f].node] = split[net.buses[br.own_t].node] = 1;
        }
    }
    const BusSchedule raw = base_schedule(c.rebuilt);
    for (size_t i = 0; i < net.buses.size(); ++i) {
        if (split[net.buses[i].node] == 0 || c.sch.kind[i] == BusKind::off) {
            continue;
        }
        c.sch.kind[i] = raw.kind[i];
        c.sch.pg[i] = raw.pg[i];
        c.sch.qgen[i] = raw.qgen[i];
        c.sch.qmax[i] = raw.qmax[i];
        c.sch.qmin[i] = raw.qmin[i];
        c.sch.vs[i] = raw.vs[i];
        if (!raw.rmpct.empty() && c.sch.rmpct.size() == raw.rmpct.size()) {
            c.sch.rmpct[i] = raw.rmpct[i];
        }
        c.held[i] = 0;
        const auto e = static_cast<Eigen::Index>(i);
        c.v.vm[e] = raw.kind[i] == BusKind::pv || raw.kind[i] == BusKind::slack ? raw.vs[i] : c.v.vm[e];
        c.v.va[e] = raw.kind[i] == BusKind::slack ? c.rebuilt.buses[i].va0 : c.v.va[e];
    }
    for (size_t i = 0; i < split.size(); ++i) {
        split[i] = split[static_cast<size_t>(net.buses[i].node)];
    }
    if (o.unit >= 0) {
        remove_unit(c.rebuilt, o.unit, c.sch, c.held);
    }
    c.may_split = true;
}

// Buses cut off in the base case that a closed branch joins to an
// energised island come back in that island, at their RAW schedule and
// from the voltage the base case started them at, as in the base case of
// the RAW with the branch in service. Returns how many did.
int reconnect(const BaseCase &base, OutageCase &c, std::vector<int> &island)
{
    const Network &net = *c.net;
    std::vector<BusKind> kind = c.sch.kind;
    bool any = false;
    for (size_t i = 0; i < kind.size(); ++i) {
        if (kind[i] == BusKind::off && base.island[i] < 0) {
            kind[i] = net.buses[i].kind;
            any = true;
        }
    }
    if (!any) {
        return 0;
    }
    std::vector<int> part;
    const int count = find_islands(net, c.on, kind, part);
    std::vector<int> joins(static_cast<size_t>(std::max(count, 0)), -1);
    for (size_t i = 0; i < kind.size(); ++i) {
        if (c.sch.kind[i] != BusKind::off && part[i] >= 0 && island[i] >= 0) {
            joins[static_cast<size_t>(part[i])] = island[i];
        }
    }
    int back = 0;
    for (size_t i = 0; i < kind.size(); ++i) {
        if (c.sch.kind[i] != BusKind::off || base.island[i] >= 0 || part[i] < 0 ||
            joins[static_cast<size_t>(part[i])] < 0) {
            continue;
        }
        c.sch.kind[i] = kind[i];
        c.held[i] = 0;
        island[i] = joins[static_cast<size_t>(part[i])];
        back += static_cast<int>(i) < net.raw_buses ? 1 : 0;
    }
    return back;
}

// Islands the base case solved apart that a closed branch joins are one,
// numbered as the lowest of them. Where the joined island holds a slack the
// RAW gives (IDE 3), every swing chosen for an island without one
// (network/swing.h) goes back to its own kind, as in the RAW with the
// branch in service; where it holds only chosen ones, the first in bus
// order stays.
void join_islands(OutageCase &c, std::vector<int> &island)
{
    const Network &net = *c.net;
    std::vector<int> part;
    const int count = find_islands(net, c.on, c.sch.kind, part);
    std::vector<int> lowest(static_cast<std::size_t>(std::max(count, 0)), INT_MAX);
    std::vector<int> kept(lowest.size(), -1);
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (part[i] >= 0 && island[i] >= 0) {
            int &low = lowest[static_cast<std::size_t>(part[i])];
            low = std::min(low, island[i]);
        }
        if (part[i] >= 0 && c.sch.kind[i] == BusKind::slack) {
            int &k = kept[static_cast<std::size_t>(part[i])];
            k = k < 0 || (net.buses[static_cast<std::size_t>(k)].auto_swing && !net.buses[i].auto_swing)
                    ? static_cast<int>(i)
                    : k;
        }
    }
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (part[i] < 0 || island[i] < 0) {
            continue;
        }
        island[i] = lowest[static_cast<std::size_t>(part[i])];
        const NetBus &b = net.buses[i];
        if (c.sch.kind[i] == BusKind::slack && b.auto_swing &&
            kept[static_cast<std::size_t>(part[i])] != static_cast<int>(i)) {
            c.sch.kind[i] = b.kind_before_swing;
            c.held[i] = 0;
        }
    }
}

// Disconnecting bus b (its branches opened, its DC lines blocked) cuts it
// off, its load counted as cut off. False when it was cut off already.
bool cut_off_bus(int b, OutageCase &c, std::vector<int> &island, CutOff &cut)
{
    if (c.sch.kind[b] == BusKind::off) {
        return false;
    }
    const NetBus &bus = c.net->buses[b];
    c.sch.kind[b] = BusKind::off;
    c.held[b] = 0;
    island[b] = -1;
    ++cut.buses;
    cut.load_mw += (bus.pd + bus.ip + bus.yp) * c.net->sbase;
    return true;
}

// The case an outage is solved on: on a copy of the network where it
// changes injections, rebuilt where it switches a tie, else on the base
// network; the schedule carried over to the copy and, where DC lines are
// blocked, what those left in service draw at the start.
void set_up(const Network &net, const BaseCase &base, const Outage &o, OutageCase &c)
{
    std::vector<DiagonalChange> dy;
    const Network *at = &net;
    if (changes_injections(o)) {
        c.edited = edited_network(net, o, dy);
        at = &c.edited;
    }
    if (opens_a_tie(*at, o.branches) || closes_a_tie(*at, o.closed)) {
        open_rebuilt(*at, base, o, c);
    } else {
        open_in_base(*at, base, o, dy, c);
    }
    if (at != &net) {
        carry_schedule(*at, net, o, c.fresh, c.sch, c.held);
        if (!o.lcc.empty() || !o.vsc.empty() || !o.mtdc.empty()) {
            dc_injections(*c.net, c.sch, c.v);
        }
    }
}

} // namespace

bool prepare_outage(const Network &net, const BaseCase &base, const Outage &o, OutageCase &c, CutOff &cut,
                    std::string &note)
{
    set_up(net, base, o, c);
    std::vector<int> island = base.island;
    if (!o.closed.empty()) {
        reconnect(base, c, island);
        join_islands(c, island);
    }
    if (o.bus >= 0) {
        c.may_split = cut_off_bus(o.bus, c, island, cut);
    }
    if (c.may_split) {
        cut.buses += cut_islands(*c.net, base, c.on, c.sch, c.held, cut.load_mw, island,
                                 c.net == &net ? &base.branches_at : nullptr);
    }
    if (cut.buses > 0) {
        add_note(note, "islanded: " + std::to_string(cut.buses) + " buses cut off");
    }
    std::vector<int> moved;
    const bool slack = choose_slacks(*c.net, o.unit, island, c.sch, c.held, c.v, moved);
    for (const int b : moved) {
        add_note(note, "slack moved to bus " + std::to_string(net.buses[b].number));
    }
    c.island = std::move(island);
    return slack;
}

void refresh_outage_groups(OutageCase &c, std::string &note)
{
    if (c.net->groups.empty()) {
        return;
    }
    for (const int k : refresh_groups(*c.net, c.sch, c.held, c.v)) {
        add_note(note, "units regulating bus " + std::to_string(c.net->buses[c.net->groups[k].bus].number) +
                           " hold their own terminals (it is cut off)");
    }
}
