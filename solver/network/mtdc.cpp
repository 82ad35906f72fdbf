#include "network/mtdc.h"

#include "io/input_error.h"
#include "network/dclink.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double deg = pi / 180.0;
constexpr int max_order_iterations = 200;

using lcc_eq::drop_i;
using lcc_eq::drop_r;
using lcc_eq::reactive;
using lcc_eq::step_tap;
using lcc_eq::tap_for;
using lcc_eq::vdo;

// Position of each DC bus number among the line's DC buses.
std::unordered_map<int, int> dc_index(const MultiTerminalDc &d)
{
    std::unordered_map<int, int> at;
    for (std::size_t n = 0; n < d.buses.size(); ++n) {
        at.emplace(d.buses[n].idc, static_cast<int>(n));
    }
    return at;
}

// The DC links' conductance matrix over the DC buses (siemens, RDC ohms):
// G_ii = Σ 1/RDC of the links at i, G_ij = −Σ 1/RDC of the links i–j.
Eigen::MatrixXd conductance(const MultiTerminalDc &d)
{
    const std::unordered_map<int, int> at = dc_index(d);
    const auto n = static_cast<Eigen::Index>(d.buses.size());
    Eigen::MatrixXd g = Eigen::MatrixXd::Zero(n, n);
    for (const MtdcLink &k : d.links) {
        const int i = at.at(k.idc);
        const int j = at.at(k.jdc);
        const double y = 1.0 / k.rdc;
        g(i, i) += y;
        g(j, j) += y;
        g(i, j) -= y;
        g(j, i) -= y;
    }
    return g;
}

// The DC bus voltages (kV) for converter currents i_ka: at the DC bus of
// each converter k other than the voltage-setting one, KCL
//   (G·V)_j = +I_k at a rectifier, −I_k at an inverter (0 with no converter);
// at the voltage-setting inverter's DC bus j its own characteristic,
//   V_j = e − r·I_v,  I_v = −(G·V)_j  (the current it takes from the DC network).
Eigen::VectorXd dc_voltages(const NetMtdc &x, const Eigen::MatrixXd &g, const std::vector<double> &i_ka, double e,
                            double r)
{
    Eigen::MatrixXd a = g;
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(g.rows());
    for (std::size_t k = 0; k < x.node.size(); ++k) {
        rhs(x.node[k]) = x.d.converters[k].setvl >= 0 ? i_ka[k] : -i_ka[k];
    }
    const int j = x.node[static_cast<std::size_t>(x.vconv)];
    a.row(j) = -r * g.row(j);
    a(j, j) += 1.0;
    rhs(j) = e;
    return a.partialPivLu().solve(rhs);
}

// The converters' currents that meet their orders at the DC voltages they
// give: MDC 2 |SETVL| A; MDC 1 |SETVL| MW at the converter's DC terminal,
// I_k = |SETVL_k|/V_k, found by fixed-point iteration. False when a voltage
// falls to 0 or the currents do not settle.
bool meet_orders(const NetMtdc &x, const Eigen::MatrixXd &g, double e, double r, bool power, std::vector<double> &i,
                 Eigen::VectorXd &v)
{
    for (int n = 0; n < max_order_iterations; ++n) {
        v = dc_voltages(x, g, i, e, r);
        if (!power) {
            return true;
        }
        double change = 0;
        for (std::size_t k = 0; k < i.size(); ++k) {
            if (static_cast<int>(k) == x.vconv) {
                continue;
            }
            const double vk = v(x.node[k]);
            if (!(vk > 0)) {
                return false;
            }
            const double next = std::abs(x.d.converters[k].setvl) / vk;
            change = std::max(change, std::abs(next - i[k]));
            i[k] = next;
        }
        if (change < 1e-14) {
            v = dc_voltages(x, g, i, e, r);
            return true;
        }
    }
    return false;
}

// Whether any inverter's DC voltage is below VCMOD.
bool below_vcmod(const NetMtdc &x, const Eigen::VectorXd &v)
{
    for (std::size_t k = 0; k < x.node.size(); ++k) {
        const bool inverter = static_cast<int>(k) == x.vconv || x.d.converters[k].setvl < 0;
        if (inverter && v(x.node[k]) < x.d.vcmod) {
            return true;
        }
    }
    return false;
}

// α (rectifier) or γ (inverter) of converter k at DC voltage vk and current
// ik, from Vd = Vdo·cos(ang) ∓ drop·Id, its tap stepped (as a two-terminal
// rectifier's) until the angle is within ANGMN..ANGMX where the range allows.
// Below ANGMN comes first: a step that would take the angle from above
// ANGMX to below ANGMN (a band narrower than one step) is not taken, so the
// tap does not hunt between the two.
void converter_angle(const MtdcConverter &m, double vac, double vk, double ik, bool rect, double &tap, double &ang,
                     std::string &note)
{
    const LccConverter &c = m.k;
    const double drop = rect ? drop_r(c) : drop_i(c);
    const double need = vk + drop * ik;
    const auto cos_at = [&](double t) { return need / vdo(c, vac, t); };
    const double amin = c.anmn_deg * deg;
    const double amax = c.anmx_deg * deg;
    bool held = false;
    if (cos_at(tap) > std::cos(amin)) {
        tap = step_tap(c, tap, tap_for(c, vac, need / std::cos(amin)), true);
    } else if (cos_at(tap) < std::cos(amax)) {
        const double next = step_tap(c, tap, tap_for(c, vac, need / std::cos(amax)), true);
        held = cos_at(next) > std::cos(amin);
        tap = held ? tap : next;
    }
    const double ca = cos_at(tap);
    if (ca > std::cos(amin)) {
        note = "angle below ANGMN with its tap at the limit";
    } else if (ca < std::cos(amax)) {
        note = held ? "angle above ANGMX: one tap step would take it below ANGMN"
                    : "angle above ANGMX with its tap at the limit";
    }
    ang = std::acos(std::clamp(ca, -1.0, 1.0)) / deg;
}

// The AC side of every converter: angles and taps, then P (the DC power
// plus, at a rectifier, or less, at an inverter, the transformers' loss
// 2·N·RC·Id²) and Q = |P|·tan φ.
void ac_side(const NetMtdc &x, const std::vector<double> &vac, const Eigen::VectorXd &v, const std::vector<double> &i,
             MtdcPoint &p)
{
    for (std::size_t k = 0; k < x.node.size(); ++k) {
        const MtdcConverter &m = x.d.converters[k];
        const bool rect = static_cast<int>(k) != x.vconv && m.setvl >= 0;
        const double vk = v(x.node[k]);
        const double ik = i[k];
        if (static_cast<int>(k) == x.vconv) {
            p.angle_deg[k] = m.k.anmn_deg;
        } else {
            converter_angle(m, vac[k], vk, ik, rect, p.tap[k], p.angle_deg[k], p.note[k]);
        }
        const double loss = 2.0 * m.k.nb * m.k.rc * ik * ik;
        p.rectifier[k] = rect;
        p.id_ka[k] = ik;
        p.vdc_kv[k] = vk;
        p.p_mw[k] = rect ? vk * ik + loss : -(vk * ik - loss);
        p.q_mvar[k] = reactive(m.k, vdo(m.k, vac[k], p.tap[k]), p.angle_deg[k] * deg, ik, p.p_mw[k]);
    }
}

} // namespace

MtdcPoint mtdc_point(const NetMtdc &x, const std::vector<double> &vac_pu, const std::vector<double> &taps)
{
    const std::size_t n = x.d.converters.size();
    MtdcPoint p;
    p.tap = taps;
    p.id_ka.assign(n, 0.0);
    p.vdc_kv.assign(n, 0.0);
    p.angle_deg.assign(n, 0.0);
    p.p_mw.assign(n, 0.0);
    p.q_mvar.assign(n, 0.0);
    p.rectifier.assign(n, false);
    p.note.assign(n, "");
    const auto vk = static_cast<std::size_t>(x.vconv);
    const LccConverter &kv = x.d.converters[vk].k;
    const double vset = x.d.converters[vk].setvl;
    const double gmin = kv.anmn_deg * deg;
    const bool power = x.d.mdc == 1;
    p.mode = power ? "power" : "current";
    const Eigen::MatrixXd g = conductance(x.d);
    std::vector<double> i(n, 0.0);
    for (std::size_t k = 0; k < n; ++k) {
        i[k] = std::abs(x.d.converters[k].setvl) / (power ? vset : 1000.0);
    }
    // The orders met at the scheduled voltage, then three passes of the
    // voltage-setting inverter at γ = ANGMN, its tap stepped towards the one
    // that holds SETVL, and the orders met again at the voltages it gives.
    Eigen::VectorXd v;
    bool met = meet_orders(x, g, vset, 0.0, power, i, v);
    const int jv = x.node[vk];
    for (int pass = 0; pass < 3 && met; ++pass) {
        const double iv = -g.row(jv).dot(v);
        p.tap[vk] = step_tap(kv, p.tap[vk], tap_for(kv, vac_pu[vk], (vset + drop_i(kv) * iv) / std::cos(gmin)), false);
        const double e = vdo(kv, vac_pu[vk], p.tap[vk]) * std::cos(gmin);
        met = meet_orders(x, g, e, drop_i(kv), power, i, v);
        if (met && power && below_vcmod(x, v)) {
            // Reduced voltage: current control at the orders' currents at SETVL.
            for (std::size_t k = 0; k < n; ++k) {
                i[k] = std::abs(x.d.converters[k].setvl) / vset;
            }
            p.mode = "current (inverter voltage below VCMOD)";
            met = meet_orders(x, g, e, drop_i(kv), false, i, v);
            break;
        }
    }
    if (met) {
        i[vk] = -g.row(jv).dot(v);
    }
    if (!met || !(i[vk] > 0)) {
        p.blocked = true;
        p.why = met ? "no operating point: the voltage-setting converter would have to rectify"
                    : "no operating point: the DC voltages do not carry the power orders";
        return p;
    }
    ac_side(x, vac_pu, v, i, p);
    return p;
}

std::size_t mtdc_tap_offset(const Network &net, std::size_t m)
{
    std::size_t at = 2 * net.lcc.size();
    for (std::size_t j = 0; j < m; ++j) {
        at += net.mtdc[j].d.converters.size();
    }
    return at;
}

namespace {

std::string mtdc_name(const MultiTerminalDc &d) { return "multi-terminal DC line '" + d.name + "'"; }

// One converter's data are what the converter equations need: as for a
// two-terminal line's converters, and ANGMX at least ANGMN where the angle
// moves (every converter but the voltage-setting one).
void check_converter(const RawCase &raw, const MultiTerminalDc &d, const MtdcConverter &m, bool holds_voltage)
{
    const LccConverter &c = m.k;
    const auto bad = [&](const std::string &what) {
        return InputError(raw.file, m.line,
                          mtdc_name(d) + ": the converter at bus " + std::to_string(c.bus) + ": " + what);
    };
    if (c.nb < 1) {
        throw bad("N must be at least 1");
    }
    if (!(c.ebas > 0) || !(c.tr > 0) || !(c.tap > 0) || !(c.tmn > 0) || !(c.tmx >= c.tmn)) {
        throw bad("EBAS, TR, TAP and TPMN must be positive, and TPMX at least TPMN");
    }
    if (!(c.stp >= 0) || !(c.xc >= 0) || !(c.rc >= 0)) {
        throw bad("TSTP, RC and XC must not be negative");
    }
    if (!(c.anmn_deg >= 0) || !(c.anmx_deg < 90) || !(c.anmn_deg < 90) ||
        !(c.anmx_deg >= c.anmn_deg || holds_voltage)) {
        throw bad("angle limits ANGMX and ANGMN must lie in 0..90 degrees, ANGMX at least ANGMN");
    }
    if (m.cnvcod < 0) {
        throw bad("CNVCOD is negative: negative-pole converters are not modelled");
    }
    if (holds_voltage && !(m.setvl > 0)) {
        throw bad("SETVL, the DC voltage VCONV holds, must be positive");
    }
}

// Every DC bus is reached from the voltage-setting converter's DC bus
// through the links, so the nodal equations have one solution.
void check_joined(const RawCase &raw, const NetMtdc &x)
{
    const std::unordered_map<int, int> at = dc_index(x.d);
    std::vector<char> seen(x.d.buses.size(), 0);
    std::vector<int> todo{x.node[static_cast<std::size_t>(x.vconv)]};
    seen[static_cast<std::size_t>(todo.front())] = 1;
    while (!todo.empty()) {
        const int b = todo.back();
        todo.pop_back();
        for (const MtdcLink &k : x.d.links) {
            const int i = at.at(k.idc);
            const int j = at.at(k.jdc);
            const int other = i == b ? j : j == b ? i : -1;
            if (other >= 0 && seen[static_cast<std::size_t>(other)] == 0) {
                seen[static_cast<std::size_t>(other)] = 1;
                todo.push_back(other);
            }
        }
    }
    for (std::size_t n = 0; n < seen.size(); ++n) {
        if (seen[n] == 0) {
            throw InputError(raw.file, x.d.buses[n].line,
                             mtdc_name(x.d) + ": DC bus " + std::to_string(x.d.buses[n].idc) +
                                 " is not joined by DC links to the DC bus of VCONV " + std::to_string(x.d.vconv));
        }
    }
}

// An in-service line's data are what the model takes: MDC 1 or 2, one pole
// (VCONVN 0), every converter to ground (IDC2 0), links of positive RDC.
void check_mtdc(const RawCase &raw, const NetMtdc &x)
{
    const MultiTerminalDc &d = x.d;
    const auto bad = [&](int line, const std::string &what) {
        return InputError(raw.file, line, mtdc_name(d) + ": " + what);
    };
    if (d.mdc != 1 && d.mdc != 2) {
        throw bad(d.line, "MDC " + std::to_string(d.mdc) + " is not 0 (blocked), 1 (power) or 2 (current)");
    }
    if (d.vconvn != 0) {
        throw bad(d.line, "VCONVN is not 0: negative-pole converters are not modelled");
    }
    const auto two = std::find_if(d.buses.begin(), d.buses.end(), [](const MtdcBus &b) { return b.idc2 != 0; });
    if (two != d.buses.end()) {
        throw bad(two->line, "DC bus " + std::to_string(two->idc) +
                                 " names IDC2: converters between two DC buses are not modelled, only to ground");
    }
    const auto open = std::find_if(d.links.begin(), d.links.end(), [](const MtdcLink &k) { return !(k.rdc > 0); });
    if (open != d.links.end()) {
        throw bad(open->line, "DC link " + std::to_string(open->idc) + "-" + std::to_string(open->jdc) + "-" +
                                  open->ckt + ": RDC must be positive");
    }
    for (std::size_t k = 0; k < d.converters.size(); ++k) {
        check_converter(raw, d, d.converters[k], static_cast<int>(k) == x.vconv);
    }
    check_joined(raw, x);
}

} // namespace

void add_mtdc_lines(const RawCase &raw, Network &net)
{
    for (const MultiTerminalDc &d : raw.multi_terminal_dc) {
        NetMtdc x;
        x.d = d;
        x.in_service = d.mdc != 0;
        const std::unordered_map<int, int> at = dc_index(d);
        bool isolated = false;
        for (std::size_t k = 0; k < d.converters.size(); ++k) {
            const int bus = d.converters[k].k.bus;
            const auto it = net.index.find(bus);
            isolated = isolated || it == net.index.end();
            x.bus.push_back(it == net.index.end() ? -1 : it->second);
            const auto dc =
                std::find_if(d.buses.begin(), d.buses.end(), [bus](const MtdcBus &b) { return b.ib == bus; });
            if (dc == d.buses.end()) {
                throw InputError(raw.file, d.converters[k].line,
                                 mtdc_name(d) + ": the converter at AC bus " + std::to_string(bus) + " has no DC bus");
            }
            x.node.push_back(at.at(dc->idc));
            if (bus == d.vconv) {
                x.vconv = static_cast<int>(k);
            }
        }
        if (isolated) {
            continue;
        }
        if (x.in_service) {
            check_mtdc(raw, x);
        }
        net.mtdc.push_back(std::move(x));
    }
}
