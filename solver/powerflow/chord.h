// Chord steps for contingencies: Newton iterations that reuse the base
// case's factored Jacobian, corrected for the rows an outage changes.
#pragma once

#include "powerflow/lu_factors.h"
#include "powerflow/newton.h"

#include <Eigen/Core>
#include <Eigen/LU>

#include <deque>
#include <vector>

// A Jacobian J0 at a point v0, factored: the base case's at its solution,
// factored once and shared by every contingency of the network, or a
// contingency's own (see make_local_chord_base).
struct ChordBase {
    Voltages v0;            // the point J0 is taken at
    Eigen::VectorXcd vc0;   // the same as complex voltages
    std::vector<double> j0; // J0's values in the workspace pattern
    // What J0 was taken with: bus kinds, Ybus's values, constant-current loads.
    std::vector<BusKind> kinds0;
    std::vector<std::complex<double>> y0, load0;
    LuFactors lu;     // J0's factors; empty when J0 is singular
    int max_rank = 0; // rows R beyond which chord_pf does not try
    // Whether chord steps on it keep switch corrections (SwitchCache): the
    // base case's, where no unit holds a remote bus.
    bool switches = false;
};

// The corrections for a change of kind between pv and pq at a bus whose
// row of Ybus and load an outage leaves as they are: the same for every
// contingency solved on one ChordBase, so taken the first time one needs
// them and kept (what they hold does not depend on which contingency took
// them). A workspace holds them (NewtonWorkspace::switches) for the
// ChordBase `of`; the ChordBase itself is never written after it is made,
// so threads may share it. For bus i, slot[i] (−1: not taken yet) indexes
// G's column and H's row for its Q row; slot is empty where none are kept.
struct SwitchCache {
    const ChordBase *of = nullptr;
    std::vector<int> slot;
    std::deque<SparseVec> switch_g, switch_h;
    // switch_hg[a][b] = switch_h[a]·switch_g[b], S's entry (less δ) where
    // two such rows meet, the same for every contingency: NaN until taken.
    std::vector<std::vector<double>> switch_hg;
};

// Builds J0 from the solved base case (schedule sch, voltages v) and
// factors it; the switch corrections ws kept for an earlier one go. Returns false when J0 is singular (contingencies
// then use plain Newton).
bool make_chord_base(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws,
                     ChordBase &cb);

// What the chord solves of one outage share as its bus kinds change: the
// rows R found so far and G = L⁻¹·P·R⁻¹·E_R, a sparse column per row
// (J0 = R·Pᵀ·L·U·Qᵀ, lu_factors.h); and for the bus kinds they were last
// built for, D = (Jc − J0)[R, :] a sparse row per row of R, H = D·Q·U⁻¹
// likewise, and S = I + H·G with its LU. A change of kind recomputes the
// rows of the buses it changed, and of H and S what those rows reach.
// Start each outage with a new one.
struct ChordState {
    std::vector<int> rows;  // R, in the order found
    std::vector<int> place; // place of each Jacobian row in R, or −1
    std::vector<SparseVec> d;
    std::vector<const SparseVec *> g, h; // the outage's own (below) or the ChordBase's
    std::deque<SparseVec> own_g, own_h;
    std::vector<char> stale;    // rows of D whose row of H is out of date
    std::vector<char> s_stale;  // rows of S out of date
    std::vector<char> touched;  // buses whose row of Ybus or load the outage changed
    std::vector<BusKind> kinds; // the kinds d, h and s belong to
    Eigen::MatrixXd s;
    Eigen::PartialPivLU<Eigen::MatrixXd> s_lu;
    SparseWork work;
    Eigen::VectorXd t;           // a step between the triangular solves
    std::vector<double> scatter; // a column of G for S's entries, zero between them
    std::vector<JacobianEntry> entries;
    bool ready = false;
    bool refreshed = false;  // the touched buses' rows retaken at an iterate
    SwitchCache no_switches; // stands for the switch corrections of a ChordBase that keeps none
};

// A contingency's own J0: the Jacobian of this network, schedule and bus
// kinds at v, factored in the workspace and copied into cb. Where many bus
// kinds changed from the base case's, its chord steps and their low-rank
// corrections for later changes of kind take the place of a factorization
// per step. st becomes the state of chord steps on it for these bus kinds
// (no row changed). Returns false when the Jacobian is singular.
bool make_local_chord_base(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                           NewtonWorkspace &ws, ChordBase &cb, ChordState &st);

struct ChordResult {
    NewtonResult r;
    bool tried = false;        // false: too many rows changed for a low-rank update
    double first_mismatch = 0; // the largest mismatch at the start
};

// Solves F(x) = 0 by chord steps x ← x − Jc⁻¹·F(x), where Jc is the
// Jacobian of this network, schedule and bus kinds taken at the base
// solution v0, but for the rows of the buses whose row of Ybus the outage
// changed: after the first step those are retaken at the iterate, once,
// since the Jacobian moves most there (on the 10,000-bus case this saves
// one step in six). Jc differs from J0 only in the rows R of the buses the
// outage touches (ends of an opened branch, cut-off buses, buses whose kind
// changed): Jc = J0 + E_R·D with D = (Jc − J0)[R, :], so by the
// Sherman-Morrison-Woodbury identity, split between J0's triangular factors,
//   Jc⁻¹·b = Q·U⁻¹·(t − G·S⁻¹·H·t),   t = L⁻¹·P·R⁻¹·b,
// with G, H and S as in ChordState. G's columns and H's rows are sparse
// triangular solves that reach a few hundred of the factors' columns in a
// network of thousands of buses, so a step costs one solve with J0's
// factors plus O(|R|) sparse products, and no factorization. Stops, not
// converged, when a step reduces the largest mismatch by less than half,
// after `max_steps`, or when |R| exceeds cb.max_rank; v then holds the
// last iterate and the caller goes on from there or from its own start
// (ladder.cpp: on its own factors, then by Newton-Raphson).
ChordResult chord_pf(const Network &net, const Ybus &y, const BusSchedule &sch, Voltages &v, const PfOptions &opt,
                     NewtonWorkspace &ws, const ChordBase &cb, ChordState &st);
