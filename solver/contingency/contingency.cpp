#include "contingency/contingency.h"

#include "contingency/changes.h"
#include "contingency/outage_case.h"
#include "powerflow/continuation.h"
#include "powerflow/dc_rounds.h"
#include "powerflow/sharing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

const char *status_name(CtgStatus s)
{
    switch (s) {
    case CtgStatus::converged:
        return "converged";
    case CtgStatus::unrealistic:
        return "unrealistic";
    case CtgStatus::no_solution:
        return "no_solution";
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

// The note of a line that is none of the kinds, quoting it.
std::string not_understood(const CtgBlock &block, const Element &e)
{
    std::string line = block.element;
    line.erase(line.find_last_not_of(" \t\r") + 1);
    line.erase(0, line.find_first_not_of(" \t"));
    if (line.empty()) {
        return "empty element line";
    }
    return (e.why.empty() ? std::string("element line not understood") : e.why) + ": '" + line + "'";
}

// What the element line's own outcome adds to the note: several branches
// matched, nothing to change, a clamp or a load's new MW.
void add_element_notes(const Element &e, const Outage &o, std::string &note)
{
    const bool branch = e.kind == Element::Kind::branch || e.kind == Element::Kind::close_branch;
    if (branch && o.records > 1) {
        add_note(note, std::to_string(o.records) + " rows match " + element_name(e) +
                           (e.kind == Element::Kind::branch ? ", all opened" : ", all closed"));
    }
    if (o.already) {
        add_note(note, e.kind == Element::Kind::close_branch ? "already in service" : "already out");
    }
    if (!o.note.empty()) {
        add_note(note, o.note);
    }
}

// The solution's assessment: from the solve's last complex voltages where
// they are the solution's, and from the base case's table of branches where
// the outage is solved on the base network itself.
Assessment assess_outage(const Network &net, const BaseCase &base, const OutageCase &c, const NewtonWorkspace &w,
                         const PfSolution &sol, int rating_set, int unit)
{
    const bool vc_is_v = w.vc_at.vm.size() == sol.v.vm.size() && w.vc_at.vm == sol.v.vm && w.vc_at.va == sol.v.va;
    return assess(*c.net, c.on, sol, rating_set, true, unit, vc_is_v ? &w.vc : nullptr,
                  c.net == &net ? &base.flows : nullptr, base.monitor.get());
}

CtgResult finish(CtgResult r, std::chrono::steady_clock::time_point t0)
{
    r.solve_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    return r;
}

// "0.415": a fraction of the outage in notes.
std::string fraction_text(double lambda)
{
    char s[32];
    std::snprintf(s, sizeof s, "%.3f", lambda);
    return s;
}

// "bus 8004 at 0.7123 pu" (|V|).
std::string bus_at(const Network &net, int b, double vm)
{
    char s[64];
    std::snprintf(s, sizeof s, " at %.4f pu", std::fabs(vm));
    return "bus " + std::to_string(net.buses[static_cast<std::size_t>(b)].number) + s;
}

// Controls acting in a contingency move settings of the network it is
// solved on: where that is the base network or its edited copy, they move
// them on a copy of it (c.rebuilt), the outage's edits kept.
void copy_for_controls(OutageCase &c)
{
    if (!c.is_rebuilt) {
        c.rebuilt = *c.net;
        c.net = &c.rebuilt;
    }
}

// The network a contingency was solved on, kept for its detail files, its
// sharers at their outputs.
std::shared_ptr<const CtgState> kept_state(const OutageCase &c, const Sharing &s, const BaseCase &base, int changed)
{
    CtgState st{*c.net, c.on, {}, {}};
    if (s.mode == ResponseMode::swing) {
        return std::make_shared<const CtgState>(std::move(st));
    }
    // The units at slacks: the sharing's outputs, the others' base output.
    st.slack_unit_p.assign(st.net.units.size(), std::nan(""));
    for (std::size_t u = 0; u < st.net.units.size() && u < base.unit_pg.size(); ++u) {
        const auto node = static_cast<std::size_t>(st.net.buses[static_cast<std::size_t>(st.net.units[u].bus)].node);
        if (node < c.island.size() && c.island[node] >= 0) {
            st.slack_unit_p[u] = static_cast<int>(u) == changed ? st.net.units[u].pg : base.unit_pg[u];
        }
    }
    for (const Sharer &u : s.units) {
        const double p = share_of(u, s.islands[static_cast<std::size_t>(u.island)].k);
        st.net.units[static_cast<std::size_t>(u.unit)].pg = p;
        st.slack_unit_p[static_cast<std::size_t>(u.unit)] = p;
    }
    return std::make_shared<const CtgState>(std::move(st));
}

// The sharing of a prepared outage's change among its islands' units
// (generator_response other than "swing"), their first shares scheduled
// into c.sch; none with "swing".
Sharing start_sharing(const BaseCase &base, const Outage &o, OutageCase &c, const PfOptions &opt)
{
    if (opt.generator_response == ResponseMode::swing) {
        return Sharing{};
    }
    Sharing s = make_sharing(*c.net, opt.generator_response, c.island, c.sch, base.unit_pg, o.unit, o.changed_unit);
    std::vector<double> loss(s.islands.size(), 0.0);
    for (std::size_t i = 0; i < c.island.size(); ++i) {
        if (i < base.island.size() && c.island[i] >= 0 && base.island[i] >= 0) {
            const auto from = static_cast<std::size_t>(base.island[i]);
            loss[static_cast<std::size_t>(c.island[i])] = base.losses[from];
            s.islands[static_cast<std::size_t>(c.island[i])].slope =
                from < base.share_slope.size() ? base.share_slope[from] : 1.0;
        }
    }
    for (IslandShare &is : s.islands) {
        for (const int b : is.slacks) {
            const auto found = std::find_if(base.slack_mu.begin(), base.slack_mu.end(),
                                            [b](const std::pair<int, std::vector<double>> &m) { return m.first == b; });
            is.mu.push_back(found != base.slack_mu.end() && !found->second.empty() ? &found->second : nullptr);
        }
    }
    first_share(*c.net, c.island, loss, c.v, s, c.sch);
    return s;
}

// Solves the outage again until its sharing settles (settle_sharing), from
// the converged `sol`; with controls acting, on the network they move.
PfSolution settle_outage(const BaseCase &base, OutageCase &c, Sharing &s, PfSolution sol, const PfOptions &opt,
                         NewtonWorkspace &ws, bool controls, ControlsOutcome &out)
{
    if (s.mode == ResponseMode::swing || !sol.converged) {
        return sol;
    }
    NewtonWorkspace &w = c.is_rebuilt ? c.ws : ws;
    const ChordBase *chord = c.is_rebuilt ? nullptr : &base.chord;
    const ShareSolve solve = [&](BusSchedule sch, std::vector<signed char> held, Voltages v) {
        if (controls) {
            return solve_with_controls(c.rebuilt, c.y, c.on, std::move(sch), std::move(held), std::move(v), opt, w,
                                       chord, ControlScope::contingency, out);
        }
        return solve_with_q_limits(*c.net, c.y, std::move(sch), std::move(held), std::move(v), opt, w, chord, &s);
    };
    return settle_sharing(*c.net, c.y, s, std::move(sol), opt, solve);
}

// The ladder's solve of a prepared outage, its sharing settled: with
// controls acting, on a copy of the network whose settings they move
// (c.rebuilt), the sharing's passes around the whole solve; else inside
// the reactive-limit loop.
PfSolution solve_outage(const BaseCase &base, OutageCase &c, const PfOptions &opt, NewtonWorkspace &ws, bool controls,
                        ControlsOutcome &out, Sharing &share)
{
    NewtonWorkspace &w = c.is_rebuilt ? c.ws : ws;
    const ChordBase *chord = c.is_rebuilt ? nullptr : &base.chord;
    if (controls) {
        copy_for_controls(c);
        PfSolution sol = solve_with_controls(c.rebuilt, c.y, c.on, std::move(c.sch), std::move(c.held), std::move(c.v),
                                             opt, w, chord, ControlScope::contingency, out);
        return settle_outage(base, c, share, std::move(sol), opt, ws, controls, out);
    }
    return solve_with_q_limits(*c.net, c.y, std::move(c.sch), std::move(c.held), std::move(c.v), opt, w, chord,
                               share.mode == ResponseMode::swing ? nullptr : &share);
}

// A settled sharing's part of a converged result: response_mw and its note.
void report_sharing(const Network &net, const Sharing &s, CtgResult &r)
{
    if (s.mode == ResponseMode::swing) {
        return;
    }
    r.response_mw = response_mw(net, s);
    const std::string note = sharing_note(net, s);
    if (!note.empty()) {
        add_note(r.note, note);
    }
}

// Newton steps of one point of the continuation: a point that has not
// converged by then is taken as failed (a nearer one follows).
constexpr int path_iterations = 10;
// Reactive-limit changes at one point: from the last point's held buses,
// a point needs few.
constexpr int path_q_changes = 20;

// The continuation path of a prepared outage (c as prepare_outage left it):
// Y_0 is the base Ybus where the outage is solved on it (a rebuilt network
// has no Y_0 of its own: only its injections move), the reactive limits
// move from the base case's.
OutagePath outage_path(const BaseCase &base, const OutageCase &c)
{
    OutagePath p;
    p.net = c.net;
    p.y1 = c.y;
    if (!c.is_rebuilt && base.y.nonZeros() == c.y.nonZeros()) {
        p.d.resize(static_cast<std::size_t>(c.y.nonZeros()));
        for (std::size_t e = 0; e < p.d.size(); ++e) {
            p.d[e] = base.y.valuePtr()[e] - c.y.valuePtr()[e];
        }
        p.qmax0 = base.sol.sch.qmax;
        p.qmin0 = base.sol.sch.qmin;
    }
    p.sch = c.sch;
    p.held = c.held;
    p.v = c.v;
    return p;
}

// The branches' state at λ of the way through the outage: opened ones keep
// 1 − λ of their admittance, closed ones λ.
void partial_branches(const Outage &o, double lambda, CtgState &st)
{
    st.branch_scale.assign(st.on.size(), 1.0);
    for (const int k : o.branches) {
        if (st.on[static_cast<std::size_t>(k)] == 0) {
            st.on[static_cast<std::size_t>(k)] = 1;
            st.branch_scale[static_cast<std::size_t>(k)] = 1 - lambda;
        }
    }
    for (const int k : o.closed) {
        st.branch_scale[static_cast<std::size_t>(k)] = lambda;
    }
}

// The loads at λ of the way through the outage, for the state's files:
// each bus's load moved from the base network's (net0) to the outage's
// (in net), and what the path held of the change as an injection
// ((1 − λ)·R0, inside sch.pg and qgen) taken back out of the buses'
// generation, so that generation less load is what was solved.
void partial_loads(const Network &net0, double lambda, Network &net, PfSolution &sol)
{
    if (net0.buses.size() != net.buses.size()) {
        return;
    }
    const double rest = 1 - lambda;
    const auto blend = [lambda](const NetBus &b0, NetBus &b) {
        for (auto field : {&NetBus::pd, &NetBus::qd, &NetBus::ip, &NetBus::iq, &NetBus::yp, &NetBus::yq}) {
            b.*field = b0.*field + lambda * (b.*field - b0.*field);
        }
    };
    for (std::size_t i = 0; i < net.buses.size(); ++i) {
        NetBus &b = net.buses[i];
        const NetBus &b0 = net0.buses[i];
        const double vm = sol.v.vm[static_cast<Eigen::Index>(i)];
        sol.sch.pg[i] -= rest * (b.pd - b0.pd + (b.ip - b0.ip) * vm);
        if (sol.sch.kind[i] == BusKind::pq && sol.held[i] == 0) {
            sol.sch.qgen[i] -= rest * (b.qd - b0.qd + (b.iq - b0.iq) * vm);
        }
        blend(b0, b);
    }
    if (net.own.size() == net0.own.size()) {
        for (std::size_t i = 0; i < net.own.size(); ++i) {
            blend(net0.own[i], net.own[i]);
        }
    }
}

// Where the ladder found no operating point (it failed, or solved to an
// unrealistic state: bad ≥ 0), continuation on the outage from a freshly
// prepared case: converged when it reaches the whole outage, else
// no_solution at the fraction it reached (unrealistic where the ladder's
// state was), diverged where the Jacobian is singular at the start.
void continue_outage(const Network &net, const BaseCase &base, const Outage &o, const PfOptions &opt,
                     NewtonWorkspace &ws, bool controls, bool keep_state, int bad, CtgResult &r)
{
    OutageCase c;
    CutOff cut;
    std::string ignored;
    prepare_outage(net, base, o, c, cut, ignored);
    refresh_outage_groups(c, ignored);
    if (controls) {
        copy_for_controls(c);
    }
    Sharing sharing = start_sharing(base, o, c, opt);
    NewtonWorkspace &w = c.is_rebuilt ? c.ws : ws;
    PfOptions popt = opt;
    popt.max_iterations = std::min(opt.max_iterations, path_iterations);
    popt.max_q_changes = path_q_changes;
    popt.give_up_early = true;
    const PathSolve solve = [&](const Ybus &y, BusSchedule sch, std::vector<signed char> held, Voltages v) {
        if (controls) {
            Network settings = c.rebuilt;
            Ybus yc = y;
            ControlsOutcome out;
            return solve_with_controls(settings, yc, c.on, std::move(sch), std::move(held), std::move(v), popt, w,
                                       nullptr, ControlScope::contingency, out);
        }
        return solve_with_q_limits(*c.net, y, std::move(sch), std::move(held), std::move(v), popt, w);
    };
    PathResult path = follow_outage(outage_path(base, c), opt, w, solve);
    r.iterations += path.iterations;
    if (path.lambda >= 1) {
        r.status = CtgStatus::converged;
        r.solvable_fraction = 1;
        r.sol = std::move(path.sol);
        r.max_mismatch = r.sol.last.max_mismatch;
        add_note(r.note, "solved by continuation");
        if (controls) {
            r.controls = ControlsOutcome{};
            Ybus y = c.y;
            r.sol = solve_with_controls(c.rebuilt, y, c.on, r.sol.sch, r.sol.held, r.sol.v, opt, w, nullptr,
                                        ControlScope::contingency, r.controls);
        }
        r.sol = settle_outage(base, c, sharing, std::move(r.sol), opt, ws, controls, r.controls);
        if (!r.sol.converged) {
            r.status = CtgStatus::diverged;
            add_note(r.note, r.sol.failure);
            return;
        }
        report_sharing(*c.net, sharing, r);
        r.assessment =
            assess(*c.net, c.on, r.sol, opt.contingency_rating, true, o.unit, nullptr, nullptr, base.monitor.get());
        if (keep_state) {
            r.state = kept_state(c, sharing, base, o.changed_unit);
        }
        return;
    }
    if (path.singular) {
        r.status = CtgStatus::diverged;
        add_note(r.note, "singular Jacobian at the outage's start");
        return;
    }
    const std::string reached =
        "solvable to λ = " + fraction_text(path.lambda) +
        (path.weak_bus >= 0 ? "; weak spot: " + bus_at(*c.net, path.weak_bus, path.weak_vm) : "");
    if (bad >= 0) {
        r.status = CtgStatus::unrealistic;
        char range[64];
        std::snprintf(range, sizeof range, " (outside %g to %g pu); ", opt.min_realistic_vm_pu,
                      opt.max_realistic_vm_pu);
        add_note(r.note, "unrealistic: " + bus_at(*c.net, bad, r.sol.v.vm[bad]) + range + reached);
        if (keep_state) {
            r.state = kept_state(c, sharing, base, o.changed_unit);
        }
        return;
    }
    r.status = CtgStatus::no_solution;
    r.solvable_fraction = path.lambda;
    add_note(r.note, reached);
    r.sol = std::move(path.sol);
    if (keep_state) {
        CtgState st{*c.net, c.on, {}, {}};
        partial_branches(o, path.lambda, st);
        partial_loads(net, path.lambda, st.net, r.sol);
        r.state = std::make_shared<const CtgState>(std::move(st));
    }
}

} // namespace

CtgResult solve_contingency(const Network &net, const BaseCase &base, const CtgBlock &block, const PfOptions &opt,
                            NewtonWorkspace &ws, bool keep_state)
{
    const auto t0 = std::chrono::steady_clock::now();
    CtgResult r;
    const Element e = parse_element(block.element);
    if (e.kind == Element::Kind::unsupported) {
        r.status = CtgStatus::unsupported;
        r.note = not_understood(block, e);
        return finish(std::move(r), t0);
    }
    const Outage o = find_outage(net, base, e);
    if (!o.found) {
        r.status = CtgStatus::not_found;
        r.note = "no " + element_name(e) + " in the network";
        return finish(std::move(r), t0);
    }
    if (!o.refusal.empty()) {
        r.status = CtgStatus::unsupported;
        r.note = o.refusal;
        return finish(std::move(r), t0);
    }
    r.attempted = true;
    r.load_lost_mw = o.load_lost_mw;

    OutageCase c;
    CutOff cut;
    const bool slack = prepare_outage(net, base, o, c, cut, r.note);
    r.buses_cut_off = cut.buses;
    r.load_cut_off_mw = cut.load_mw;
    r.islanded = r.buses_cut_off > 0;
    add_element_notes(e, o, r.note);
    if (!slack) {
        r.status = CtgStatus::diverged;
        add_note(r.note, "no unit left to be slack");
        return finish(std::move(r), t0);
    }
    refresh_outage_groups(c, r.note);

    const bool controls = controls_act(*c.net, opt, ControlScope::contingency);
    Sharing sharing = start_sharing(base, o, c, opt);
    r.sol = solve_outage(base, c, opt, ws, controls, r.controls, sharing);
    r.ran = true;
    r.iterations = r.sol.iterations;
    r.max_mismatch = r.sol.last.max_mismatch;
    if (!r.sol.converged && r.sol.last.converged && !r.sol.limits_unsettled) {
        // Every Newton solve converged: the loops around them (DC lines,
        // controls) did not settle.
        r.status = CtgStatus::diverged;
        add_note(r.note, r.sol.failure);
        return finish(std::move(r), t0);
    }
    const int bad = r.sol.converged ? unrealistic_bus(r.sol.sch, r.sol.v, opt) : -1;
    if (!r.sol.converged || bad >= 0) {
        if (!r.sol.converged) {
            add_note(r.note, "direct solve: " + r.sol.failure);
        }
        continue_outage(net, base, o, opt, ws, controls, keep_state, bad, r);
        return finish(std::move(r), t0);
    }
    r.status = CtgStatus::converged;
    r.solvable_fraction = 1;
    report_sharing(*c.net, sharing, r);
    if (keep_state) {
        r.state = kept_state(c, sharing, base, o.changed_unit);
    }
    if (controls) {
        const std::string note = controls_note(net, *c.net, r.controls);
        if (!note.empty()) {
            add_note(r.note, note);
        }
    }
    r.assessment = assess_outage(net, base, c, c.is_rebuilt ? c.ws : ws, r.sol, opt.contingency_rating, o.unit);
    return finish(std::move(r), t0);
}
