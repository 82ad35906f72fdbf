#include "network/ybus.h"

#include <cmath>

BranchStamp branch_stamp(const NetBranch &br, bool with_end_shunts)
{
    // a = tap·e^{j·shift}; Yff = (ys + j·bc/2)/|a|², Yft = −ys/conj(a)
    // = −ys·e^{j·shift}/tap, Ytf = −ys/a = −ys·e^{−j·shift}/tap,
    // Ytt = ys + j·bc/2 (divisions by a real tap only).
    const std::complex<double> ych(0.0, br.bc / 2.0);
    BranchStamp s;
    s.yff = (br.ys + ych) / (br.tap * br.tap);
    const std::complex<double> y = -br.ys / br.tap;
    if (br.shift == 0.0) {
        s.yft = s.ytf = y;
    } else {
        const std::complex<double> turn = std::polar(1.0, br.shift);
        s.yft = y * turn;
        s.ytf = y * std::conj(turn);
    }
    s.ytt = br.ys + ych;
    if (with_end_shunts) {
        s.yff += br.ysh_f;
        s.ytt += br.ysh_t;
    }
    return s;
}

Ybus make_ybus(const Network &net, const std::vector<char> &on)
{
    using T = Eigen::Triplet<std::complex<double>, int>;
    const int n = static_cast<int>(net.buses.size());
    std::vector<T> trip;
    trip.reserve(n + 4 * net.branches.size());
    for (int i = 0; i < n; ++i) {
        // Shunts and constant-admittance load: y = (G + jB) with B > 0 capacitive.
        const NetBus &b = net.buses[i];
        trip.emplace_back(i, i, std::complex<double>(b.gs + b.yp, b.bs + b.yq));
    }
    for (size_t k = 0; k < net.branches.size(); ++k) {
        const NetBranch &br = net.branches[k];
        // A tie's charging and end shunts are in its node's shunt (network/ties.h).
        BranchStamp s = on[k] && !br.tie ? branch_stamp(br, true) : BranchStamp{};
        trip.emplace_back(br.f, br.f, s.yff);
        trip.emplace_back(br.f, br.t, s.yft);
        trip.emplace_back(br.t, br.f, s.ytf);
        trip.emplace_back(br.t, br.t, s.ytt);
    }
    Ybus y(n, n);
    y.setFromTriplets(trip.begin(), trip.end());
    y.makeCompressed();
    return y;
}

std::vector<char> branches_in_service(const Network &net)
{
    std::vector<char> on(net.branches.size());
    for (size_t k = 0; k < on.size(); ++k) {
        on[k] = net.branches[k].in_service ? 1 : 0;
    }
    return on;
}
