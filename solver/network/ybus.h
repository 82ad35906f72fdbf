// Bus admittance matrix, I = Ybus·V, per unit on SBASE (the type: Ybus,
// network/network.h).
#pragma once

#include "network/network.h"

#include <Eigen/SparseCore>

#include <complex>
#include <vector>

// The four entries a branch adds to Ybus (see NetBranch), with and without
// its end shunts ysh_f/ysh_t: flows leave those out.
struct BranchStamp {
    std::complex<double> yff, yft, ytf, ytt;
};
BranchStamp branch_stamp(const NetBranch &br, bool with_end_shunts);

// A network's branches as the loading check reads them, one after another
// in one array (a branch's own record spans cache lines): its ends, whether
// it is a tie, its rating in MVA in one rating set and its stamp without
// end shunts. Taken once for a network whose branches stay as they are.
struct FlowBranch {
    int f = 0, t = 0;
    bool tie = false;
    double rate = 0;
    BranchStamp s;
};
struct FlowTable {
    int rating_set = 0;
    std::vector<FlowBranch> branches;
};

// Ybus of the branches marked in `on` (one flag per network branch), plus
// the bus shunts and constant-admittance loads. Every branch of the network,
// in service or not, and every diagonal entry is part of the pattern, so
// the pattern is the same whatever is switched out; entries of branches out
// of service, and of ties, are explicit zeros.
Ybus make_ybus(const Network &net, const std::vector<char> &on);

// Which branches are in service in the RAW.
std::vector<char> branches_in_service(const Network &net);
