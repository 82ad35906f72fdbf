#include "powerflow/tie_flows.h"

#include "network/ybus.h"
#include "powerflow/dc_rounds.h"

#include <Eigen/SparseCholesky>

#include <numeric>

using cplx = std::complex<double>;

namespace {

// The units in service at each bus (their own bus), leaving out `removed`:
// sums of PG, QG, QT, QB, and their count.
struct UnitSums {
    std::vector<double> p, qg, qt, qb;
    std::vector<int> count;
};

UnitSums unit_sums(const Network &net, int removed)
{
    const size_t n = net.buses.size();
    UnitSums u{std::vector<double>(n), std::vector<double>(n), std::vector<double>(n), std::vector<double>(n),
               std::vector<int>(n)};
    for (size_t k = 0; k < net.units.size(); ++k) {
        const NetUnit &nu = net.units[k];
        if (!nu.in_service || static_cast<int>(k) == removed) {
            continue;
        }
        u.p[nu.bus] += nu.pg;
        u.qg[nu.bus] += nu.qg;
        u.qt[nu.bus] += nu.qt;
        u.qb[nu.bus] += nu.qb;
        ++u.count[nu.bus];
    }
    return u;
}

bool energised(const PfSolution &sol, const TieNode &node) { return sol.sch.kind[node.rep] != BusKind::off; }

// What each bus of an energised tie node draws, pu, its ties' series flows
// aside: load (PL + IP·V + YP·V²) + j(QL + IQ·V − YQ·V²), shunt
// (G − jB)·V², the power into its other branches at its end, S_end +
// conj(ysh)·V², and into its ties' charging and end shunts,
// conj(j·B/2 + ysh)·V².
std::vector<cplx> drawn(const Network &net, const std::vector<char> &on, const PfSolution &sol,
                        const std::vector<BranchFlow> &flows)
{
    std::vector<cplx> d(net.buses.size(), 0.0);
    for (const TieNode &node : net.tie_nodes) {
        if (!energised(sol, node)) {
            continue;
        }
        const double vm = sol.v.vm[node.rep];
        for (const int b : node.buses) {
            const NetBus &o = net.own[b];
            d[b] = cplx(o.pd + o.ip * vm + o.yp * vm * vm, o.qd + o.iq * vm - o.yq * vm * vm) +
                   cplx(o.gs, -o.bs) * (vm * vm);
        }
    }
    std::vector<double> taps;
    for (const DcDraw &dc : dc_draws(net, sol.sch, sol.v, taps)) {
        d[static_cast<size_t>(dc.bus)] += dc.s;
    }
    for (size_t k = 0; k < net.branches.size(); ++k) {
        const NetBranch &br = net.branches[k];
        if (!on[k] || sol.sch.kind[br.f] == BusKind::off || sol.sch.kind[br.t] == BusKind::off) {
            continue;
        }
        const double vf2 = sol.v.vm[br.own_f] * sol.v.vm[br.own_f];
        const double vt2 = sol.v.vm[br.own_t] * sol.v.vm[br.own_t];
        const cplx charging(0.0, br.tie ? br.bc / 2.0 : 0.0);
        d[br.own_f] += (br.tie ? 0.0 : flows[k].from) + std::conj(charging + br.ysh_f) * vf2;
        d[br.own_t] += (br.tie ? 0.0 : flows[k].to) + std::conj(charging + br.ysh_t) * vt2;
    }
    return d;
}

// Shares the node's output between its members (see tie_node_output).
void share_output(const PfSolution &sol, const TieNode &node, const UnitSums &u, cplx total, std::vector<cplx> &out)
{
    const int r = node.rep;
    const bool slack = sol.sch.kind[r] == BusKind::slack;
    const bool scheduled_q = sol.sch.kind[r] == BusKind::pq && sol.held[r] == 0;
    double p_rest = total.real();
    bool ranges = true;
    double qb_sum = 0;
    for (const int m : node.buses) {
        ranges = ranges && (u.count[m] == 0 || u.qt[m] > u.qb[m]);
        qb_sum += u.qb[m];
        p_rest -= m != r ? u.p[m] : 0.0;
    }
    const auto weight = [&u, ranges](int m) { return ranges ? u.qt[m] - u.qb[m] : static_cast<double>(u.count[m]); };
    const double w_sum = std::accumulate(node.buses.begin(), node.buses.end(), 0.0,
                                         [&weight](double sum, int m) { return sum + weight(m); });
    for (const int m : node.buses) {
        double q = u.qg[m];
        if (!scheduled_q && w_sum > 0) {
            q = u.qb[m] + (total.imag() - qb_sum) * weight(m) / w_sum;
        } else if (!scheduled_q) {
            q = m == r ? total.imag() : 0.0; // no unit: the node is an ideal source
        }
        out[m] = cplx(slack && m == r ? p_rest : u.p[m], q);
    }
}

std::vector<cplx> output_and_drawn(const Network &net, const std::vector<char> &on, const PfSolution &sol,
                                   const std::vector<BranchFlow> &flows, int removed_unit, std::vector<cplx> &d)
{
    d = drawn(net, on, sol, flows);
    const UnitSums u = unit_sums(net, removed_unit);
    std::vector<cplx> out(net.buses.size(), 0.0);
    for (const TieNode &node : net.tie_nodes) {
        if (energised(sol, node)) {
            const cplx total = std::accumulate(node.buses.begin(), node.buses.end(), cplx(),
                                               [&d](cplx sum, int b) { return sum + d[b]; });
            share_output(sol, node, u, total, out);
        }
    }
    return out;
}

// The ties' Laplacian over the rows of the members of energised nodes, the
// representatives grounded: a tie adds 1 at (f, f) and (t, t) and −1 at
// (f, t) and (t, f), leaving out a representative's row and column.
Eigen::SparseMatrix<double> tie_laplacian(const Network &net, const std::vector<int> &row, int m)
{
    std::vector<Eigen::Triplet<double, int>> trip;
    for (const TieNode &node : net.tie_nodes) {
        for (const int k : node.ties) {
            const int f = row[net.branches[k].own_f];
            const int t = row[net.branches[k].own_t];
            if (f == t) {
                continue; // a tie from a bus to itself, or of a node cut off
            }
            for (const int i : {f, t}) {
                if (i >= 0) {
                    trip.emplace_back(i, i, 1.0);
                }
            }
            if (f >= 0 && t >= 0) {
                trip.emplace_back(f, t, -1.0);
                trip.emplace_back(t, f, -1.0);
            }
        }
    }
    Eigen::SparseMatrix<double> lap(m, m);
    lap.setFromTriplets(trip.begin(), trip.end());
    return lap;
}

} // namespace

std::vector<cplx> tie_node_output(const Network &net, const std::vector<char> &on, const PfSolution &sol,
                                  const std::vector<BranchFlow> &flows, int removed_unit)
{
    std::vector<cplx> d;
    return output_and_drawn(net, on, sol, flows, removed_unit, d);
}

void fill_tie_flows(const Network &net, const std::vector<char> &on, const PfSolution &sol, int removed_unit,
                    std::vector<BranchFlow> &flows)
{
    std::vector<cplx> d;
    const std::vector<cplx> out = output_and_drawn(net, on, sol, flows, removed_unit, d);
    std::vector<int> row(net.buses.size(), -1);
    int m = 0;
    for (const TieNode &node : net.tie_nodes) {
        for (const int b : node.buses) {
            row[b] = energised(sol, node) && b != node.rep ? m++ : -1;
        }
    }
    Eigen::VectorXd re(m);
    Eigen::VectorXd im(m);
    for (size_t b = 0; b < row.size(); ++b) {
        if (row[b] >= 0) {
            const cplx inj = out[b] - d[b];
            re[row[b]] = inj.real();
            im[row[b]] = inj.imag();
        }
    }
    Eigen::VectorXd phi_re = re;
    Eigen::VectorXd phi_im = im;
    if (m > 0) {
        const Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> ldlt(tie_laplacian(net, row, m));
        phi_re = ldlt.solve(re);
        phi_im = ldlt.solve(im);
    }
    const auto phi = [&](int b) { return row[b] < 0 ? cplx() : cplx(phi_re[row[b]], phi_im[row[b]]); };
    for (const TieNode &node : net.tie_nodes) {
        if (!energised(sol, node)) {
            continue;
        }
        const double vm = sol.v.vm[node.rep];
        for (const int k : node.ties) {
            const NetBranch &br = net.branches[k];
            const cplx s = phi(br.own_f) - phi(br.own_t);
            const cplx charging(0.0, -br.bc / 2.0 * vm * vm);
            flows[k] = {s + charging, -s + charging};
        }
    }
}
