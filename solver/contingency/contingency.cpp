#include "contingency/contingency.h"

#include "network/islands.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

const char *status_name(CtgStatus s)
{
    switch (s) {
    case CtgStatus::converged:
        return "converged";
    case CtgStatus::diverged:
        return "diverged";
    case CtgStatus::not_found:
        return "not_found";
    case CtgStatus::unsupported:
        break;
    }
    return "unsupported";
}

namespace {

void add_note(std::string &note, const std::string &more) { note += (note.empty() ? "" : "; ") + more; }

// The outage an element line asks for, found in the network.
struct Outage {
    std::vector<int> branches; // network branch indexes to open
    int unit = -1;             // network unit index to remove
    int records = 0;           // RAW records matched
    bool already_out = false;  // every matched element is out of service already
};

// Branches between i and j in either order (or the 3-winding unit on i, j,
// k) with circuit id c; every match opens.
void find_branch(const Network &net, const Element &e, Outage &o)
{
    int last_line = -1;
    bool any_in = false;
    for (size_t k = 0; k < net.branches.size(); ++k) {
        const NetBranch &br = net.branches[k];
        if (!same_id(br.ckt, e.id)) {
            continue;
        }
        bool match = false;
        if (e.k == 0) {
            match = br.kind != BranchKind::winding &&
                    ((br.from_bus == e.i && br.to_bus == e.j) || (br.from_bus == e.j && br.to_bus == e.i));
        } else if (br.kind == BranchKind::winding) {
            std::array<int, 3> want = {e.i, e.j, e.k};
            std::array<int, 3> have = {br.from_bus, br.to_bus, br.third_bus};
            std::sort(want.begin(), want.end());
            std::sort(have.begin(), have.end());
            match = want == have;
        }
        if (match) {
            o.branches.push_back(static_cast<int>(k));
            any_in = any_in || br.in_service;
            o.records += br.line != last_line ? 1 : 0; // a 3-winding unit's windings share a record
            last_line = br.line;
        }
    }
    o.already_out = !o.branches.empty() && !any_in;
}

void find_unit(const Network &net, const Element &e, Outage &o)
{
    for (size_t u = 0; u < net.units.size(); ++u) {
        const NetUnit &nu = net.units[u];
        if (net.buses[nu.bus].number == e.i && same_id(nu.id, e.id)) {
            o.unit = static_cast<int>(u);
            o.records = 1;
            o.already_out = !nu.in_service;
            return;
        }
    }
}

// Schedule of bus b from its in-service units, leaving out unit `removed`.
// Returns how many units remain; pg, qmax, qmin, vs and the largest-PT sum
// are updated.
int reschedule_bus(const Network &net, int b, int removed, BusSchedule &sch, double &qg_sum)
{
    int count = 0;
    sch.pg[b] = sch.qmax[b] = sch.qmin[b] = qg_sum = 0;
    for (size_t u = 0; u < net.units.size(); ++u) {
        const NetUnit &nu = net.units[u];
        if (nu.bus != b || !nu.in_service || static_cast<int>(u) == removed) {
            continue;
        }
        if (count++ == 0) {
            sch.vs[b] = nu.vs;
        }
        sch.pg[b] += nu.pg;
        qg_sum += nu.qg;
        sch.qmax[b] += nu.qt;
        sch.qmin[b] += nu.qb;
    }
    return count;
}

// Total PT of the in-service units of every bus, leaving out unit `removed`.
std::vector<double> total_pt(const Network &net, int removed, std::vector<int> &units_on)
{
    std::vector<double> pt(net.buses.size(), 0.0);
    units_on.assign(net.buses.size(), 0);
    for (size_t u = 0; u < net.units.size(); ++u) {
        const NetUnit &nu = net.units[u];
        if (nu.in_service && static_cast<int>(u) != removed) {
            pt[nu.bus] += nu.pt;
            ++units_on[nu.bus];
        }
    }
    return pt;
}

// Cuts off every island but the main one; returns the RAW buses cut off
// and adds their load to load_mw.
int cut_islands(const Network &net, const std::vector<char> &on, BusSchedule &sch, std::vector<signed char> &held,
                double &load_mw)
{
    std::vector<int> island;
    const int count = find_islands(net, on, sch.kind, island);
    if (count <= 1) {
        return 0;
    }
    const int keep = main_island(net, island, count);
    int cut = 0;
    for (size_t i = 0; i < net.buses.size(); ++i) {
        if (island[i] < 0 || island[i] == keep) {
            continue;
        }
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

// When the slack bus is cut off or has no unit left (an ideal source, a
// slack with no unit in the RAW, has none to lose), the voltage-controlled
// bus of the solved island with the largest total PT of in-service units
// (lowest bus number on a tie) becomes the slack at its base-case angle and
// its set-point. An old slack still energised becomes a load bus. Returns
// the new slack, the old one when it stays, or -1 when no unit is left.
int choose_slack(const Network &net, int removed, BusSchedule &sch, std::vector<signed char> &held, Voltages &v)
{
    std::vector<int> units_on;
    const std::vector<double> pt = total_pt(net, removed, units_on);
    const int old = net.slack;
    if (sch.kind[old] != BusKind::off && (units_on[old] > 0 || net.slack_is_ideal_source)) {
        return old;
    }
    int best = -1;
    for (int i = 0; i < net.raw_buses; ++i) {
        if (sch.kind[i] == BusKind::off || net.buses[i].kind != BusKind::pv || units_on[i] == 0) {
            continue;
        }
        if (best < 0 || pt[i] > pt[best] || (pt[i] == pt[best] && net.buses[i].number < net.buses[best].number)) {
            best = i;
        }
    }
    if (best < 0) {
        return -1;
    }
    if (sch.kind[old] != BusKind::off) {
        sch.kind[old] = BusKind::pq; // with no unit left: no generation
        sch.pg[old] = sch.qgen[old] = 0;
    }
    sch.kind[best] = BusKind::slack;
    held[best] = 0;
    v.vm[best] = sch.vs[best];
    return best;
}

// Takes unit u out of its bus's schedule. A bus left without units loses
// its voltage control; a held bus stays held at its remaining units' limit.
void remove_unit(const Network &net, int u, BusSchedule &sch, std::vector<signed char> &held)
{
    const int b = net.units[u].bus;
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

// Ybus without the given branches: their stamps come out of the base
// matrix, whose pattern stays.
Ybus open_branches(const Network &net, const BaseCase &base, const std::vector<int> &branches, std::vector<char> &on)
{
    Ybus y = base.y;
    for (int k : branches) {
        if (!on[k]) {
            continue;
        }
        const NetBranch &br = net.branches[k];
        const BranchStamp s = branch_stamp(br, true);
        y.coeffRef(br.f, br.f) -= s.yff;
        y.coeffRef(br.f, br.t) -= s.yft;
        y.coeffRef(br.t, br.f) -= s.ytf;
        y.coeffRef(br.t, br.t) -= s.ytt;
        on[k] = 0;
    }
    return y;
}

std::string element_name(const Element &e)
{
    if (e.kind == Element::Kind::unit) {
        return "unit " + e.id + " at bus " + std::to_string(e.i);
    }
    return "branch " + std::to_string(e.i) + "-" + std::to_string(e.j) +
           (e.k != 0 ? "-" + std::to_string(e.k) : std::string()) + " ckt " + e.id;
}

CtgResult finish(CtgResult r, std::chrono::steady_clock::time_point t0)
{
    r.solve_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    return r;
}

} // namespace

CtgResult solve_contingency(const Network &net, const BaseCase &base, const CtgBlock &block, const PfOptions &opt,
                            NewtonWorkspace &ws)
{
    const auto t0 = std::chrono::steady_clock::now();
    CtgResult r;
    const Element e = parse_element(block.element);
    if (e.kind == Element::Kind::unsupported) {
        r.status = CtgStatus::unsupported;
        const bool empty = block.element.find_first_not_of(" \t\r") == std::string::npos;
        r.note = empty ? "empty element line" : "element line not understood";
        return finish(r, t0);
    }
    Outage o;
    if (e.kind == Element::Kind::branch) {
        find_branch(net, e, o);
    } else {
        find_unit(net, e, o);
    }
    if (o.branches.empty() && o.unit < 0) {
        r.status = CtgStatus::not_found;
        r.note = "no " + element_name(e) + " in the network";
        return finish(r, t0);
    }
    r.attempted = true;

    std::vector<char> on = base.on;
    const Ybus y = open_branches(net, base, o.branches, on);
    BusSchedule sch = base.sol.sch;
    std::vector<signed char> held = base.sol.held;
    Voltages v = base.sol.v;
    if (o.unit >= 0) {
        remove_unit(net, o.unit, sch, held);
    }
    if (may_split(base, o.branches)) {
        r.buses_cut_off = cut_islands(net, on, sch, held, r.load_cut_off_mw);
    }
    r.islanded = r.buses_cut_off > 0;
    if (r.islanded) {
        add_note(r.note, "islanded: " + std::to_string(r.buses_cut_off) + " buses cut off");
    }
    const int slack = choose_slack(net, o.unit, sch, held, v);
    if (slack != net.slack && slack >= 0) {
        add_note(r.note, "slack moved to bus " + std::to_string(net.buses[slack].number));
    }
    if (o.records > 1) {
        add_note(r.note, std::to_string(o.records) + " rows match " + element_name(e) + ", all opened");
    }
    if (o.already_out) {
        add_note(r.note, "already out");
    }
    if (slack < 0) {
        r.status = CtgStatus::diverged;
        add_note(r.note, "no unit left to be slack");
        return finish(r, t0);
    }

    r.sol = solve_with_q_limits(net, y, std::move(sch), std::move(held), std::move(v), opt, ws, &base.chord);
    r.ran = true;
    r.iterations = r.sol.iterations;
    r.max_mismatch = r.sol.last.max_mismatch;
    if (!r.sol.converged) {
        r.status = CtgStatus::diverged;
        add_note(r.note, r.sol.failure);
        return finish(r, t0);
    }
    r.status = CtgStatus::converged;
    r.assessment = assess(net, on, r.sol, opt.contingency_rating, true);
    return finish(r, t0);
}
