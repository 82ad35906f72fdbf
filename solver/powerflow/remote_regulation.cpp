#include "powerflow/remote_regulation.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <set>

using cplx = std::complex<double>;

namespace {

// Whether member b of group g takes part now: a `reg` bus, or the
// regulated bus while it holds its own voltage.
bool member_on(const BusSchedule &sch, const RegGroup &g, int b)
{
    const BusKind k = sch.kind[static_cast<std::size_t>(b)];
    return k == BusKind::reg || (b == g.bus && (k == BusKind::pv || k == BusKind::slack));
}

// Qg_b = Im(V_b·conj(I_b)) + qd_b + iq_b·|V_b| + qdc_b at ws.vc, ws.current.
double unit_q_at(const Network &net, const BusSchedule &sch, const Voltages &v, const NewtonWorkspace &ws, int b)
{
    const auto i = static_cast<std::size_t>(b);
    const double qdc = sch.qdc.empty() ? 0.0 : sch.qdc[i];
    return (ws.vc[b] * std::conj(ws.current[b])).imag() + net.buses[i].qd + net.buses[i].iq * v.vm[b] + qdc;
}

// Position of (row, col) in the Jacobian's value array (the pair must be
// in the pattern).
int position(const JacobianPattern &pat, int row, int col)
{
    const int *begin = pat.j.innerIndexPtr() + pat.j.outerIndexPtr()[col];
    const int *end = pat.j.innerIndexPtr() + pat.j.outerIndexPtr()[col + 1];
    return static_cast<int>(std::lower_bound(begin, end, row) - pat.j.innerIndexPtr());
}

// J[Q_row, ·] += c·∂Qg_b/∂x: over b's Ybus neighbours k,
//   ∂S_b/∂θ_k = j·V_b·conj(−y_bk·V_k)  (+ j·V_b·conj(I_b) for k = b),
//   ∂S_b/∂|V|_k = V_b·conj(y_bk·V_k/|V_k|)  (+ conj(I_b)·V_b/|V_b| + iq_b for k = b),
// the imaginary parts taken.
void add_q_row(const Network &net, const Ybus &y, const Voltages &v, NewtonWorkspace &ws, int row, int b, double c)
{
    const int n = static_cast<int>(y.rows());
    double *jx = ws.pat.j.valuePtr();
    const cplx vb = ws.vc[b];
    for (Ybus::InnerIterator it(y, b); it; ++it) {
        const int k = static_cast<int>(it.row());
        const cplx ybk = y.coeff(b, k);
        const cplx vk = ws.vc[k];
        cplx dth = cplx(0, 1) * vb * std::conj(-ybk * vk);
        cplx dvm = vb * std::conj(ybk * vk / v.vm[k]);
        if (k == b) {
            dth += cplx(0, 1) * vb * std::conj(ws.current[b]);
            dvm += std::conj(ws.current[b]) * vk / v.vm[k] + cplx(0, net.buses[static_cast<std::size_t>(b)].iq);
        }
        jx[position(ws.pat, n + row, k)] += c * dth.imag();
        jx[position(ws.pat, n + row, n + k)] += c * dvm.imag();
    }
}

// Calls voltage(row) for the row holding group k's regulated voltage
// (none where the regulated bus holds it in its own row) and share(row, b)
// for the row of each sharing equation, member b against ref; nothing
// while the group is held or empty.
template <class Voltage, class Share>
void each_equation(const Network &net, const BusSchedule &sch, std::size_t k, Voltage voltage, Share share)
{
    const RegGroup &g = net.groups[k];
    const int ref = sch.ref[k];
    const int hold = sch.vhold[k];
    if (ref < 0) {
        return;
    }
    if (hold != g.bus) {
        voltage(hold);
    }
    for (const int b : g.members) {
        if (b != ref && member_on(sch, g, b)) {
            share(b == hold ? ref : b, b);
        }
    }
}

} // namespace

std::vector<std::pair<int, int>> regulation_pattern(const Network &net, const Ybus &y)
{
    const int n = static_cast<int>(y.rows());
    std::vector<std::pair<int, int>> out;
    for (const RegGroup &g : net.groups) {
        for (const int m : g.members) {
            std::set<int> cols{n + g.bus};
            for (const int o : g.members) {
                for (Ybus::InnerIterator it(y, o); o != m && it; ++it) {
                    cols.insert(static_cast<int>(it.row()));
                    cols.insert(n + static_cast<int>(it.row()));
                }
            }
            std::transform(cols.begin(), cols.end(), std::back_inserter(out),
                           [row = n + m](int c) { return std::make_pair(row, c); });
        }
    }
    return out;
}

namespace {

// Group g's regulated bus is cut off: its members still regulating it, or
// held at a limit for it, hold their own terminals at VS. Returns whether
// any did.
bool fall_back(const RegGroup &g, BusSchedule &sch, std::vector<signed char> &held, Voltages &v)
{
    bool any = false;
    for (const int b : g.members) {
        const auto i = static_cast<std::size_t>(b);
        if (b != g.bus && (sch.kind[i] == BusKind::reg || held[i] != 0) && sch.kind[i] != BusKind::off) {
            sch.kind[i] = BusKind::pv;
            held[i] = 0;
            v.vm[b] = sch.vs[i];
            any = true;
        }
    }
    return any;
}

// ref, vhold and the members' ratios of group k from its members taking
// part now.
void set_shares(const Network &net, BusSchedule &sch, std::size_t k)
{
    const RegGroup &g = net.groups[k];
    int ref = -1;
    double total = 0;
    bool holds_itself = false;
    for (const int b : g.members) {
        const double a = sch.rmpct[static_cast<std::size_t>(b)];
        if (member_on(sch, g, b)) {
            total += a;
            holds_itself = holds_itself || b == g.bus;
            ref = ref < 0 || a > sch.rmpct[static_cast<std::size_t>(ref)] ? b : ref;
        }
    }
    if (ref < 0) {
        return;
    }
    for (const int b : g.members) {
        const auto i = static_cast<std::size_t>(b);
        sch.ratio[i] =
            member_on(sch, g, b) && total > 0 ? sch.rmpct[i] / sch.rmpct[static_cast<std::size_t>(ref)] : 1.0;
    }
    sch.ref[k] = ref;
    sch.vhold[k] = holds_itself ? g.bus : ref;
}

} // namespace

std::vector<int> refresh_groups(const Network &net, BusSchedule &sch, std::vector<signed char> &held, Voltages &v)
{
    if (sch.rmpct.size() != net.buses.size()) {
        sch.rmpct.clear();
        for (const NetBus &b : net.buses) {
            sch.rmpct.push_back(b.rmpct);
        }
    }
    sch.vhold.assign(net.groups.size(), -1);
    sch.ref.assign(net.groups.size(), -1);
    sch.ratio.assign(net.groups.empty() ? 0 : net.buses.size(), 0.0);
    std::vector<int> fell_back;
    for (std::size_t k = 0; k < net.groups.size(); ++k) {
        const RegGroup &g = net.groups[k];
        if (sch.kind[static_cast<std::size_t>(g.bus)] != BusKind::off) {
            set_shares(net, sch, k);
        } else if (fall_back(g, sch, held, v)) {
            fell_back.push_back(static_cast<int>(k));
        }
    }
    return fell_back;
}

double regulation_mismatch(const Network &net, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws,
                           int &worst_bus)
{
    const auto n = v.vm.size();
    double worst = 0;
    worst_bus = -1;
    const auto note = [&](int row) {
        const double m = std::abs(ws.f[n + row]);
        if (!(m <= worst)) {
            worst = m;
            worst_bus = row;
        }
    };
    for (std::size_t k = 0; k < net.groups.size(); ++k) {
        const RegGroup &g = net.groups[k];
        const int ref = sch.ref[k];
        const double q_ref = ref >= 0 ? unit_q_at(net, sch, v, ws, ref) : 0.0;
        each_equation(
            net, sch, k,
            [&](int row) {
                ws.f[n + row] = v.vm[g.bus] - g.vs;
                note(row);
            },
            [&](int row, int b) {
                ws.f[n + row] = unit_q_at(net, sch, v, ws, b) - sch.ratio[static_cast<std::size_t>(b)] * q_ref;
                note(row);
            });
    }
    return worst;
}

void regulation_jacobian(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                         NewtonWorkspace &ws)
{
    const int n = static_cast<int>(y.rows());
    double *jx = ws.pat.j.valuePtr();
    for (const int e : ws.pat.extra) {
        jx[e] = 0.0;
    }
    for (std::size_t k = 0; k < net.groups.size(); ++k) {
        const int r = net.groups[k].bus;
        const int ref = sch.ref[k];
        each_equation(
            net, sch, k, [&](int row) { jx[position(ws.pat, n + row, n + r)] += 1.0; },
            [&](int row, int b) {
                add_q_row(net, y, v, ws, row, b, 1.0);
                add_q_row(net, y, v, ws, row, ref, -sch.ratio[static_cast<std::size_t>(b)]);
            });
    }
}
