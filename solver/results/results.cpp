#include "results/results.h"

#include "io/csv.h"
#include "network/control_setup.h"
#include "network/dclink.h"
#include "network/mtdc.h"
#include "powerflow/flows.h"
#include "powerflow/q_limits.h"
#include "powerflow/tie_flows.h"
#include "results/columns.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string num(double x)
{
    if (x == 0.0) {
        return "0";
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.12g", x);
    return buf;
}

namespace {

constexpr double rad_to_deg = 180.0 / M_PI;

// Output of the units at every bus of a tie node (tie_node_output), with a
// flag per bus for those buses; empty without ties.
std::vector<std::complex<double>> tied_output(const SolvedNetwork &s, std::vector<char> &in_node)
{
    if (s.net.tie_nodes.empty()) {
        return {};
    }
    in_node.assign(s.net.buses.size(), 0);
    for (const TieNode &node : s.net.tie_nodes) {
        for (const int b : node.buses) {
            in_node[b] = 1;
        }
    }
    return tie_node_output(s.net, s.on, s.sol, solved_flows(s), s.removed_unit);
}

} // namespace

SolvedNetwork solved_base(const Network &net, const BaseCase &bc)
{
    return SolvedNetwork{net, bc.on, bc.sol, bc.ws, {}, -1, {}};
}

std::vector<BranchFlow> solved_flows(const SolvedNetwork &s)
{
    std::vector<BranchFlow> flows = branch_flows(s.net, s.on, s.sol, s.removed_unit);
    if (s.branch_scale.empty()) {
        return flows;
    }
    for (std::size_t k = 0; k < flows.size() && k < s.branch_scale.size(); ++k) {
        flows[k].from *= s.branch_scale[k];
        flows[k].to *= s.branch_scale[k];
    }
    if (!s.net.tie_nodes.empty()) {
        fill_tie_flows(s.net, s.on, s.sol, s.removed_unit, flows);
    }
    return flows;
}

// The slack's P is what its bus injects plus what it draws (constant-power
// and constant-current load, DC converters); a load bus not held at a
// limit puts out its scheduled Q, any other bus what unit_q finds. A bus of
// a tie node: its units' share of the node's output (tie_node_output).
std::vector<std::complex<double>> bus_output(const SolvedNetwork &s)
{
    const PfSolution &sol = s.sol;
    std::vector<std::complex<double>> out(s.net.buses.size(), 0.0);
    std::vector<char> in_node;
    const std::vector<std::complex<double>> tied = tied_output(s, in_node);
    for (int i = 0; i < s.net.raw_buses; ++i) {
        const BusKind kind = sol.sch.kind[i];
        if (kind == BusKind::off) {
            continue;
        }
        if (!in_node.empty() && in_node[i] != 0) {
            out[i] = tied[i];
            continue;
        }
        const NetBus &b = s.net.own.empty() ? s.net.buses[i] : s.net.own[i];
        const double vm = sol.v.vm[i];
        const std::complex<double> v = std::polar(vm, sol.v.va[i]);
        const double p_inj = (v * std::conj(s.ws.current[i])).real();
        const double pdc = sol.sch.pdc.empty() ? 0.0 : sol.sch.pdc[static_cast<std::size_t>(i)];
        const double pg = kind == BusKind::slack ? p_inj + b.pd + b.ip * vm + pdc : sol.sch.pg[i];
        const double qg =
            kind == BusKind::pq && sol.held[i] == 0 ? sol.sch.qgen[i] : unit_q(s.net, sol.sch, s.ws, sol.v, i);
        out[i] = {pg, qg};
    }
    return out;
}

namespace {

// Bus b (its node, where ties join it to others) is outside the solved islands.
bool cut_off(const Network &net, const PfSolution &s, int b)
{
    return s.sch.kind[static_cast<std::size_t>(net.buses[static_cast<std::size_t>(b)].node)] == BusKind::off;
}

// A two-terminal line: converter 1 the rectifier, 2 the inverter, angles α
// and γ; status "in service", "blocked" or "cut off" (an end outside the
// solved islands). P and Q are what each converter injects into its AC bus:
// the rectifier's P and both converters' Q are negative.
std::string lcc_row(const Network &net, const BaseCase &bc, std::size_t k)
{
    const NetLcc &x = net.lcc[k];
    const PfSolution &s = bc.sol;
    const std::string head = csv_text(x.d.name) + ",two-terminal,";
    const std::string buses = std::to_string(x.d.rectifier.bus) + "," + std::to_string(x.d.inverter.bus) + ",";
    if (!x.in_service) {
        return head + "blocked," + buses + ",,,,,,,,,,,,\n";
    }
    if (cut_off(net, s, x.rbus) || cut_off(net, s, x.ibus)) {
        return head + "cut off," + buses + ",,,,,,,,,,,,\n";
    }
    const LccPoint p = lcc_point(x.d, s.v.vm[x.rbus], s.v.vm[x.ibus], s.sch.taps[2 * k], s.sch.taps[2 * k + 1]);
    if (p.blocked) {
        return head + "blocked," + buses + ",,,,,,,,,,,," + csv_text(p.note) + "\n";
    }
    return head + "in service," + buses + num(-p.pr_mw) + "," + num(-p.qr_mvar) + "," + num(p.pi_mw) + "," +
           num(-p.qi_mvar) + "," + num(p.id_ka * 1000.0) + "," + num(p.vdr_kv) + "," + num(p.vdi_kv) + "," +
           num(p.alpha_deg) + "," + num(p.gamma_deg) + "," + num(p.tap_r) + "," + num(p.tap_i) + "," +
           csv_text(p.mode) + "," + csv_text(p.note) + "\n";
}

// A VSC line: converters in file order, no angles or taps.
std::string vsc_row(const Network &net, const BaseCase &bc, const NetVsc &x)
{
    const SolvedNetwork solved = solved_base(net, bc);
    const std::string head = csv_text(x.d.name) + ",VSC,";
    const std::string buses = std::to_string(x.d.converters[0].bus) + "," + std::to_string(x.d.converters[1].bus) + ",";
    if (!x.in_service) {
        return head + "blocked," + buses + ",,,,,,,,,,,,\n";
    }
    if (cut_off(net, bc.sol, x.bus[0]) || cut_off(net, bc.sol, x.bus[1])) {
        return head + "cut off," + buses + ",,,,,,,,,,,,\n";
    }
    const auto mode = [&x](std::size_t k) {
        const VscConverter &c = x.d.converters.at(k);
        return std::string(c.type == 1 ? "DC voltage" : "power") +
               (c.mode == 1 ? " and AC voltage" : " and power factor");
    };
    return head + "in service," + buses + num(x.p_ac[0]) + "," + num(vsc_q(solved, x, 0)) + "," + num(x.p_ac[1]) + "," +
           num(vsc_q(solved, x, 1)) + "," + num(x.idc_a) + "," + num(x.vdc_kv[0]) + "," + num(x.vdc_kv[1]) + ",,,,," +
           csv_text(mode(0) + "; " + mode(1)) + "," +
           csv_text("converter losses " + num(x.loss_mw[0]) + " and " + num(x.loss_mw[1]) + " MW") + "\n";
}

// A multi-terminal line: one row per converter in file order, bus_1 its AC
// bus and bus_2 its DC bus (IDC); angle α or γ, its tap; mode the line's
// control ("DC voltage" at VCONV) and the converter's role.
std::string mtdc_rows(const Network &net, const BaseCase &bc, std::size_t m)
{
    const NetMtdc &x = net.mtdc[m];
    const PfSolution &s = bc.sol;
    const std::string head = csv_text(x.d.name) + ",multi-terminal,";
    const auto buses = [&x](std::size_t k) {
        return std::to_string(x.d.converters[k].k.bus) + "," +
               std::to_string(x.d.buses[static_cast<std::size_t>(x.node[k])].idc) + ",";
    };
    const bool cut = std::any_of(x.bus.begin(), x.bus.end(), [&](int b) { return cut_off(net, s, b); });
    MtdcPoint p;
    if (x.in_service && !cut) {
        std::vector<double> vac(x.bus.size());
        std::transform(x.bus.begin(), x.bus.end(), vac.begin(), [&s](int b) { return s.v.vm[b]; });
        const auto first = s.sch.taps.begin() + static_cast<std::ptrdiff_t>(mtdc_tap_offset(net, m));
        p = mtdc_point(x, vac, std::vector<double>(first, first + static_cast<std::ptrdiff_t>(x.bus.size())));
    }
    std::string out;
    for (std::size_t k = 0; k < x.bus.size(); ++k) {
        if (!x.in_service || cut || p.blocked) {
            out += head + (cut && x.in_service ? "cut off," : "blocked,") + buses(k) + ",,,,,,,,,,,," +
                   (p.blocked ? csv_text(p.why) : std::string()) + "\n";
            continue;
        }
        const std::string role = p.rectifier[k] ? ", rectifier" : ", inverter";
        const std::string mode = (static_cast<int>(k) == x.vconv ? std::string("DC voltage") : p.mode) + role;
        out += head + "in service," + buses(k) + num(-p.p_mw[k]) + "," + num(-p.q_mvar[k]) + ",,," +
               num(p.id_ka[k] * 1000.0) + "," + num(p.vdc_kv[k]) + ",," + num(p.angle_deg[k]) + ",," + num(p.tap[k]) +
               ",," + csv_text(mode) + "," + csv_text(p.note[k]) + "\n";
    }
    return out;
}

} // namespace

// A converter holding its AC voltage shares the bus's reactive output with
// the units there in proportion to its limits.
double vsc_q(const SolvedNetwork &s, const NetVsc &x, std::size_t k)
{
    if (x.d.converters.at(k).mode == 2) {
        return x.q_ac.at(k);
    }
    const int node = s.net.buses[static_cast<std::size_t>(x.bus.at(k))].node;
    const auto b = static_cast<std::size_t>(node);
    const double q = unit_q(s.net, s.sol.sch, s.ws, s.sol.v, node) * s.net.sbase;
    const double range = (s.sol.sch.qmax[b] - s.sol.sch.qmin[b]) * s.net.sbase;
    return range > 0 ? q * (x.qmax.at(k) - x.qmin.at(k)) / range : q;
}

std::string base_dclines_csv(const Network &net, const BaseCase &bc)
{
    std::string out = header_line(base_dclines_columns);
    for (std::size_t k = 0; k < net.lcc.size(); ++k) {
        out += lcc_row(net, bc, k);
    }
    for (const NetVsc &x : net.vsc) {
        out += vsc_row(net, bc, x);
    }
    for (std::size_t m = 0; m < net.mtdc.size(); ++m) {
        out += mtdc_rows(net, bc, m);
    }
    return out;
}

// Generation (bus_output) and load in MW/Mvar (load with its V-dependent
// parts at the solved voltage), angles in degrees. A bus of a tie node shows
// the node's voltage, its own load and its units' share of the node's output.
std::string buses_csv(const SolvedNetwork &s)
{
    const PfSolution &sol = s.sol;
    const double sb = s.net.sbase;
    std::string out = header_line(base_buses_columns);
    const std::vector<std::complex<double>> gen = bus_output(s);
    for (int i = 0; i < s.net.raw_buses; ++i) {
        if (sol.sch.kind[i] == BusKind::off) {
            continue;
        }
        const NetBus &b = s.net.own.empty() ? s.net.buses[i] : s.net.own[i]; // its own load, where ties join it
        const double vm = sol.v.vm[i];
        const double pd = b.pd + b.ip * vm + b.yp * vm * vm;
        const double qd = b.qd + b.iq * vm - b.yq * vm * vm;
        out += std::to_string(b.number) + "," + csv_text(b.name) + "," + num(b.base_kv) + "," + num(vm) + "," +
               num(sol.v.va[i] * rad_to_deg) + "," + num(gen[i].real() * sb) + "," + num(gen[i].imag() * sb) + "," +
               num(pd * sb) + "," + num(qd * sb) + "\n";
    }
    return out;
}

std::string base_buses_csv(const Network &net, const BaseCase &bc) { return buses_csv(solved_base(net, bc)); }

// Flows into the branch at each end (charging included, end shunts not);
// loading = 100·max(|S_from|, |S_to|)/rating, empty where the rating is 0.
// A 3-winding transformer gives one row per winding (k and winding set), its
// "to" end being the star point. A tie is a row like any branch, its flow
// found from the injections around it (fill_tie_flows).
std::string branches_csv(const SolvedNetwork &s, int rating_set)
{
    const double sb = s.net.sbase;
    std::string out = header_line(base_branches_columns);
    const std::vector<BranchFlow> flows = solved_flows(s);
    for (size_t k = 0; k < s.net.branches.size(); ++k) {
        const NetBranch &br = s.net.branches[k];
        if (!s.on[k] || s.sol.sch.kind[br.f] == BusKind::off || s.sol.sch.kind[br.t] == BusKind::off || br.facts >= 0) {
            continue;
        }
        const BranchFlow &fl = flows[k];
        const std::complex<double> sf = fl.from * sb;
        const std::complex<double> st = fl.to * sb;
        const double rate = rating(br, rating_set);
        const std::string loading = rate > 0 ? num(100.0 * std::max(std::abs(sf), std::abs(st)) / rate) : std::string();
        const bool w3 = br.kind == BranchKind::winding;
        out += std::to_string(br.from_bus) + "," + std::to_string(br.to_bus) + "," +
               (w3 ? std::to_string(br.third_bus) : std::string()) + "," + csv_text(br.ckt) + "," +
               (w3 ? std::to_string(br.winding) : std::string()) + "," + num(sf.real()) + "," + num(sf.imag()) + "," +
               num(st.real()) + "," + num(st.imag()) + "," + loading + "\n";
    }
    return out;
}

std::string base_branches_csv(const Network &net, const BaseCase &bc, int rating_set)
{
    return branches_csv(solved_base(net, bc), rating_set);
}

std::string base_violations_csv(const Assessment &a)
{
    std::string out = header_line(base_violations_columns);
    for (const Violation &v : a.violations) {
        out += v.kind + "," + csv_text(v.element) + "," + num(v.value) + "," + num(v.limit) + "\n";
    }
    return out;
}

std::string base_interfaces_csv(const MonitorCriteria &m, const Assessment &a)
{
    std::string out = header_line(base_interfaces_columns);
    for (std::size_t i = 0; i < m.interfaces.size() && i < a.interface_mw.size(); ++i) {
        const SelectedInterface &in = m.interfaces[i];
        out += csv_text(in.name) + "," + num(a.interface_mw[i]) + "," + num(in.rating_mw) + "," +
               num(100.0 * std::fabs(a.interface_mw[i]) / in.rating_mw) + "\n";
    }
    return out;
}

std::vector<ControlRow> base_control_rows(const Network &net, const ControlsOutcome &out)
{
    std::vector<ControlRow> rows;
    for (std::size_t i = 0; i < net.controls.size() && i < out.state.size(); ++i) {
        if (out.state[i] == ControlState::locked) {
            continue;
        }
        const NetControl &c = net.controls[i];
        ControlRow r;
        r.kind = control_kind_name(c.kind);
        if (c.kind == ControlKind::switched_shunt) {
            r.device = std::to_string(net.buses[static_cast<std::size_t>(c.bus)].number) + "-" + c.id;
        } else {
            const NetBranch &br = net.branches[static_cast<std::size_t>(c.branch)];
            r.device = branch_label(br);
            r.winding = br.winding;
        }
        r.regulated_bus = c.reg >= 0 ? net.buses[static_cast<std::size_t>(c.reg)].number : 0;
        r.low = c.lo;
        r.high = c.hi;
        r.value = out.value[i];
        r.setting = c.setting;
        r.state = control_state_name(out.state[i]);
        rows.push_back(r);
    }
    return rows;
}

std::vector<ControlRow> regulation_rows(const Network &net, const BaseCase &bc)
{
    std::vector<ControlRow> rows;
    const PfSolution &s = bc.sol;
    for (std::size_t k = 0; k < net.groups.size(); ++k) {
        const RegGroup &g = net.groups[k];
        if (s.sch.kind[static_cast<std::size_t>(g.bus)] == BusKind::off) {
            continue;
        }
        ControlRow r;
        r.kind = "remote_voltage";
        double q = 0;
        int plants = 0;
        int held = 0;
        for (const int b : g.members) {
            const auto i = static_cast<std::size_t>(b);
            const BusKind kind = s.sch.kind[i];
            if (kind == BusKind::reg || s.held[i] != 0 || (b == g.bus && kind != BusKind::pq)) {
                r.device += (plants++ > 0 ? " " : "") + std::to_string(net.buses[i].number);
                q += unit_q(net, s.sch, bc.ws, s.v, b);
                held += s.held[i] != 0 ? 1 : 0;
            }
        }
        if (plants == 0) {
            continue;
        }
        r.regulated_bus = net.buses[static_cast<std::size_t>(g.bus)].number;
        r.low = r.high = g.vs;
        r.value = s.v.vm[g.bus];
        r.setting = q * net.sbase;
        r.state = held == plants ? "at_limit" : "in_band";
        rows.push_back(r);
    }
    return rows;
}

// at_limit 1 where the state is at_limit, else 0.
std::string controls_csv(const std::vector<ControlRow> &rows)
{
    std::string out = header_line(base_controls_columns);
    for (const ControlRow &r : rows) {
        out += r.kind + "," + csv_text(r.device) + "," + (r.winding > 0 ? std::to_string(r.winding) : "") + "," +
               (r.regulated_bus != 0 ? std::to_string(r.regulated_bus) : "") + "," + num(r.low) + "," + num(r.high) +
               "," + (std::isnan(r.value) ? "" : num(r.value)) + "," + num(r.setting) + "," +
               (r.state == "at_limit" ? "1" : "0") + "," + r.state + "\n";
    }
    return out;
}

std::vector<ControlRow> base_controls_file_rows(const Network &net, const BaseCase &bc, const PfOptions &opt,
                                                const ControlsOutcome &out)
{
    std::vector<ControlRow> rows = regulation_rows(net, bc);
    if (controls_act(net, opt, ControlScope::base_case)) {
        const std::vector<ControlRow> more = base_control_rows(net, out);
        rows.insert(rows.end(), more.begin(), more.end());
    }
    return rows;
}

std::string base_case_failure(const Network &net, const BaseCase &bc)
{
    const NewtonResult &r = bc.sol.last;
    std::string what = "the base case has no solution: " + bc.sol.failure;
    if (r.worst_bus >= 0) {
        what += "; largest mismatch " + num(r.max_mismatch) + " pu at bus " +
                std::to_string(net.buses[static_cast<std::size_t>(r.worst_bus)].number);
    }
    return what;
}
