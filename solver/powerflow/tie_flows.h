// What ties carry. A tie has no impedance, so no voltage across it gives
// its flow: after the solve, Kirchhoff's law at the buses of its node does.
#pragma once

#include "powerflow/state.h"

#include <complex>
#include <vector>

// Output of the units at every bus of a tie node, pu (P + jQ; 0 at other
// buses). The node puts out what its members draw: their loads and shunts at
// the node's voltage and the power into their other branches (end shunts
// included) and into their ties' charging and end shunts. Each member's
// units keep their scheduled P, but a slack node's representative takes
// the balance. Q likewise where the node is a load bus not held at a limit;
// otherwise every member's units sit at one fraction of their range:
//   Q_m = QB_m + (Q − ΣQB)·w_m/Σw,  w_m = QT_m − QB_m
// (w_m the units' count where a range is not positive). `flows` holds the
// flows of the branches other than ties (those of ties are not read);
// `removed_unit` is a unit a contingency took out, or −1.
std::vector<std::complex<double>> tie_node_output(const Network &net, const std::vector<char> &on,
                                                  const PfSolution &sol, const std::vector<BranchFlow> &flows,
                                                  int removed_unit);

// Fills in the flows of the ties of every energised node, `flows` holding
// those of the other branches. Each member i injects
//   inj_i = output_i − what it draws (above, its ties' series flows aside),
// and the ties carry that to the representative as ties of one impedance
// would (the node's mismatch left at the representative, as a solve leaves
// it at any bus):
//   Σ_{ties k at i} (φ_i − φ_j) = inj_i at every member but the
//   representative (φ_rep = 0);  s_k = φ_f − φ_t from f to t.
// On a tree of ties s_k is the net injection of the members on its from
// side; around a loop of ties the flow is shared evenly. Reported like any
// branch's, charging included: S_f = s_k − j·(B/2)·|V|², S_t = −s_k − j·(B/2)·|V|².
void fill_tie_flows(const Network &net, const std::vector<char> &on, const PfSolution &sol, int removed_unit,
                    std::vector<BranchFlow> &flows);
