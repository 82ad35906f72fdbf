#include "powerflow/flat_start.h"

#include <Eigen/SparseCore>
#include <Eigen/SparseLU>

#include <array>
#include <utility>
#include <vector>

namespace {

// Flat-start angles: the slacks' angles carried through the network, each
// phase shifter turning it by its shift: θ_t = θ_f − φ across a branch whose
// ratio a = t·e^{jφ} sits at its from end. Without this a case with large
// shifts (a 150° winding-angle convention) starts far from any solution.
std::vector<double> flat_angles(const Network &net)
{
    const std::size_t n = net.buses.size();
    std::vector<std::vector<std::pair<int, double>>> next(n); // (bus, angle step)
    for (const NetBranch &br : net.branches) {
        if (br.in_service) {
            next[br.f].emplace_back(br.t, -br.shift);
            next[br.t].emplace_back(br.f, br.shift);
        }
    }
    std::vector<double> va(n, net.buses[net.slack].va0);
    std::vector<char> seen(n, 0);
    std::vector<int> queue = net.slacks;
    for (const int s : net.slacks) {
        seen[s] = 1;
        va[s] = net.buses[s].va0;
    }
    for (std::size_t k = 0; k < queue.size(); ++k) {
        const int i = queue[k];
        for (const auto &[j, step] : next[i]) {
            if (seen[j] == 0) {
                seen[j] = 1;
                va[j] = va[i] + step;
                queue.push_back(j);
            }
        }
    }
    return va;
}

// One branch of the DC power flow below: b·(θ_i − θ_k − φ) at each end
// whose angle is unknown (row ≥ 0), the known angles and the shift moved to
// the right-hand side.
void stamp_dc_branch(const NetBranch &br, const std::vector<int> &row, const std::vector<double> &va,
                     std::vector<Eigen::Triplet<double, int>> &trip, Eigen::VectorXd &rhs)
{
    const double bb = -br.ys.imag() / br.tap;
    const std::array<int, 2> ends{br.f, br.t};
    for (int e = 0; e < 2; ++e) {
        const int i = ends.at(e);
        const int k = ends.at(1 - e);
        if (row[i] < 0) {
            continue;
        }
        trip.emplace_back(row[i], row[i], bb);
        rhs[row[i]] += (e == 0 ? 1.0 : -1.0) * bb * br.shift; // the shift counts from the from end
        if (row[k] >= 0) {
            trip.emplace_back(row[i], row[k], -bb);
        } else {
            rhs[row[i]] += bb * va[static_cast<std::size_t>(k)];
        }
    }
}

// Flat-start angles: the DC power flow from the slacks' angles (with
// several slack buses the only start that respects every fixed angle; at
// 10,000 buses Newton-Raphson from the angles of flat_angles alone takes
// more than 20 steps),
//   Σ_k b_ik·(θ_i − θ_k − φ_ik) = P_i,  b = −Im(ys)/tap,
// P_i the scheduled generation less the load and shunt conductance at 1 pu,
// slack angles fixed at their RAW values. Buses not energised keep `va`,
// and so does every bus where the system can not be solved.
void dc_angles(const Network &net, const BusSchedule &sch, std::vector<double> &va)
{
    const auto n = static_cast<int>(net.buses.size());
    std::vector<int> row(static_cast<std::size_t>(n), -1);
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const BusKind k = sch.kind[i];
        row[i] = k != BusKind::off && k != BusKind::slack && k != BusKind::tied ? m++ : -1;
    }
    if (m == 0) {
        return; // every bus is a slack's or off: nothing to solve for
    }
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(m);
    for (int i = 0; i < n; ++i) {
        if (row[i] >= 0) {
            const NetBus &b = net.buses[i];
            rhs[row[i]] = sch.pg[i] - b.pd - b.ip - b.yp - b.gs - (sch.pdc.empty() ? 0.0 : sch.pdc[i]);
        }
    }
    std::vector<Eigen::Triplet<double, int>> trip;
    for (const NetBranch &br : net.branches) {
        if (br.in_service && !br.tie && sch.kind[br.f] != BusKind::off && sch.kind[br.t] != BusKind::off) {
            stamp_dc_branch(br, row, va, trip, rhs);
        }
    }
    Eigen::SparseMatrix<double> bmat(m, m);
    bmat.setFromTriplets(trip.begin(), trip.end());
    const Eigen::SparseLU<Eigen::SparseMatrix<double>> lu(bmat);
    const Eigen::VectorXd theta = lu.info() == Eigen::Success ? Eigen::VectorXd(lu.solve(rhs)) : Eigen::VectorXd();
    if (lu.info() != Eigen::Success || theta.size() != m || !theta.allFinite()) {
        return;
    }
    for (int i = 0; i < n; ++i) {
        va[static_cast<std::size_t>(i)] = row[i] >= 0 ? theta[row[i]] : va[static_cast<std::size_t>(i)];
    }
}

} // namespace

Voltages initial_voltages(const Network &net, const BusSchedule &sch, bool flat_start)
{
    const auto n = static_cast<Eigen::Index>(net.buses.size());
    Voltages v{Eigen::VectorXd(n), Eigen::VectorXd(n)};
    std::vector<double> flat = flat_start ? flat_angles(net) : std::vector<double>();
    if (flat_start) {
        dc_angles(net, sch, flat);
    }
    for (Eigen::Index i = 0; i < n; ++i) {
        const NetBus &b = net.buses[i];
        v.vm[i] = flat_start ? 1.0 : b.vm0;
        v.va[i] = flat_start ? flat[static_cast<std::size_t>(i)] : b.va0;
        if (sch.kind[i] == BusKind::pv || sch.kind[i] == BusKind::slack) {
            v.vm[i] = sch.vs[i];
        }
        if (sch.kind[i] == BusKind::slack) {
            v.va[i] = b.va0;
        }
    }
    // A bus regulated by units elsewhere starts at its set-point.
    for (std::size_t k = 0; k < net.groups.size(); ++k) {
        if (!sch.vhold.empty() && sch.vhold[k] >= 0) {
            v.vm[net.groups[k].bus] = net.groups[k].vs;
        }
    }
    copy_tied_voltages(net, v);
    return v;
}

void copy_tied_voltages(const Network &net, Voltages &v)
{
    for (const TieNode &node : net.tie_nodes) {
        for (const int b : node.buses) {
            v.vm[b] = v.vm[node.rep];
            v.va[b] = v.va[node.rep];
        }
    }
}
