// The power flow's state: its options, the bus voltages and schedule of a
// solve, the Newton workspace one network's solves share, and what a solve
// gives back. Plain types; the solvers that fill them include this.
#pragma once

#include "network/network.h"

#include <Eigen/Core>
#include <Eigen/SparseCore>

#include <klu.h>

#include <complex>
#include <memory>
#include <string>
#include <vector>

// When a kind of control acts: never (its devices stay as the RAW has
// them), in the base case only (every contingency then holds the base
// case's settings), or in the base case and in every contingency (each
// starting from the base case's settings).
enum class ControlMode { locked, base, all };

// Who takes the active power a change of the network calls for: the slack
// alone, or the island's units by PT, by reserve or by output
// (powerflow/sharing.h).
enum class ResponseMode { swing, pmax, reserve, output };

struct PfOptions {
    double tolerance_pu = 1e-8; // largest |ΔP| or |ΔQ|, pu on SBASE
    int max_iterations = 20;    // Newton steps per solve
    bool enforce_q_limits = true;
    bool flat_start = false;
    int base_rating = 1;        // rating set loading is measured against: 1 (RATEA, RATE1) to 12
    int contingency_rating = 3; // the same after a contingency (3: RATEC, RATE3)
    // Lines of |R + jX| below this are ties (network/ties.h); read with the
    // options, used when the network is built.
    double zero_impedance_threshold_pu = default_zero_impedance_threshold_pu;
    // Units whose IREG names another bus hold that bus's voltage (false:
    // their own terminal's); read with the options, used when the network
    // is built.
    bool remote_regulation = true;
    // Islands with in-service units and no IDE 3 bus get a swing bus
    // (network/swing.h); read with the options, used when the network is built.
    bool auto_swing = true;
    ControlMode adjust_taps = ControlMode::locked;            // COD 1 and 2 windings (powerflow/control_loop.h)
    ControlMode adjust_phase_shifters = ControlMode::locked;  // COD 3
    ControlMode adjust_switched_shunts = ControlMode::locked; // MODSW 1 and 2
    // A solved state with an energised bus outside this range of |V| is no
    // operating point (a contingency's status unrealistic, a warning for
    // the base case).
    double min_realistic_vm_pu = 0.5;
    double max_realistic_vm_pu = 2.0;
    ResponseMode generator_response = ResponseMode::swing;      // in contingencies
    ResponseMode base_generator_response = ResponseMode::swing; // in the base case, against the RAW's dispatch
    // Not options of the file: continuation sets them for its points, where
    // a point that does not solve soon gives way to a nearer one.
    //   max_q_changes: reactive-limit changes after the batch rounds before
    //   the loop is taken as not settling (0: twice the voltage-controlled
    //   buses); give_up_early: Newton-Raphson stops on a step that raises
    //   the mismatch above its start or on two in a row that do not halve it.
    int max_q_changes = 0;
    bool give_up_early = false;
    // Contingencies whose full state is written (their labels).
    std::vector<std::string> detail;
    // A violation already in the base case is tagged worse where its flow
    // grew by more than this fraction of the base case's, or its |V| moved
    // more than this many pu beyond the base case's (results/violation_tags.h);
    // with report_new_or_worse the same ones are not written.
    double worse_flow_fraction = 0.10;
    double worse_vm_pu = 0.005;
    bool report_new_or_worse = false;
};

// The bus voltages of a solve, kept in polar form.
struct Voltages {
    Eigen::VectorXd vm, va; // pu, radians
};

// What each bus does in one solve: its kind (a bus held at a Q limit is pq),
// the active output of its in-service units, their reactive output (pq buses
// only), the sums of their limits and their voltage set-point. A contingency
// changes these where it removes a unit or moves the slack. With DC lines,
// pdc + j·qdc is what their converters draw from each bus (pu), and taps
// the two-terminal lines' converter taps (rectifier, inverter, per line);
// all three are empty without DC lines.
// With remote regulation (Network::groups), rmpct is each bus's plant
// share (its first in-service unit's RMPCT, as PSS/E keeps it per plant), and for each group vhold is the bus whose Q
// row holds the regulated voltage and ref the member the others' shares
// are taken against (−1 both while the group is held at a limit or has no
// member left), ratio[b] member b's share over ref's (remote_regulation.h); all
// four are empty without groups.
// What one DC converter draws from its own AC bus, pu on SBASE
// (powerflow/dc_rounds.h).
struct DcDraw {
    int bus = 0; // bus index
    std::complex<double> s;
};

struct BusSchedule {
    std::vector<BusKind> kind;
    std::vector<double> pg, qgen, qmax, qmin, vs;
    std::vector<double> pdc, qdc, taps;
    std::vector<double> rmpct, ratio;
    std::vector<int> vhold, ref;
};

// The Jacobian's pattern over the unknowns x = [θ_0..θ_{n−1}, |V|_0..|V|_{n−1}]
// and rows [P_0..P_{n−1}, Q_0..Q_{n−1}], the union over all bus kinds: a row
// whose quantity is not solved for (P of the slack, Q of a pv bus) becomes
// the identity row of its own unknown. For each Ybus entry e = (i, k), the
// positions of (P_i, θ_k), (P_i, |V|_k), (Q_i, θ_k), (Q_i, |V|_k) in J's
// value array.
// Remote regulation adds to the Q rows of every group member the entries of
// its group's other members' Q rows and of the regulated bus's |V|
// (remote_regulation.h); `extra` lists the positions of those that are no Ybus
// entry's.
// y_t[e] is the position of Ybus entry (k, i) in Ybus's value array.
struct JacobianPattern {
    Eigen::SparseMatrix<double, Eigen::ColMajor, int> j;
    std::vector<int> p_th, p_vm, q_th, q_vm;
    std::vector<int> extra;
    std::vector<int> y_t;
};

struct KluDeleter {
    klu_common *common;
    void operator()(klu_symbolic *s) const { klu_free_symbolic(&s, common); }
    void operator()(klu_numeric *num) const { klu_free_numeric(&num, common); }
};

using KluNumeric = std::unique_ptr<klu_numeric, KluDeleter>;

struct SwitchCache; // powerflow/chord.h

// Everything one network's solves share: the pattern, KLU's analysis of it
// and the last numeric factorization, whose pivot order later steps reuse.
// Built once, used for every solve of the network.
struct NewtonWorkspace {
    JacobianPattern pat;
    std::unique_ptr<klu_common> common;
    std::unique_ptr<klu_symbolic, KluDeleter> symbolic{nullptr, KluDeleter{nullptr}};
    KluNumeric numeric{nullptr, KluDeleter{nullptr}};
    Eigen::VectorXd f, dx;        // mismatch and step, 2n
    Eigen::VectorXcd vc, current; // V and Ybus·V
    Voltages vc_at;               // the voltages vc holds (mismatch refreshes the buses that moved)
    // Inside one solve (solve_with_q_limits, where Ybus does not change):
    // the Ybus that current is Ybus·vc for, null when vc moved since, so
    // that mismatch updates current by the columns of the buses that moved
    // rather than by a whole product. Always null outside a solve.
    bool in_solve = false;
    const Ybus *current_of = nullptr;
    std::vector<int> moved;               // buses the last mismatch refreshed in vc
    std::vector<std::complex<double>> dv; // and by how much their V moved
    // The switch corrections this workspace's chord steps took on the base
    // case's factors, kept from one contingency to the next (null until the
    // first): each workspace its own, so that threads sharing a base case
    // write nothing they share.
    std::shared_ptr<SwitchCache> switches;
};

// What one Newton-Raphson (or chord) solve ended with.
struct NewtonResult {
    bool converged = false;
    bool singular = false;
    int iterations = 0;
    int factorizations = 0;  // Jacobians factored (steps that reused one did not)
    double max_mismatch = 0; // pu
    int worst_bus = -1;      // bus index of the largest mismatch
};

struct PfSolution {
    Voltages v;
    BusSchedule sch;
    std::vector<signed char> held; // +1 at the sum of QT, −1 at the sum of QB, 0 not held
    bool converged = false;
    int iterations = 0;     // steps of every solve of the loop, chord and Newton
    int chord_steps = 0;    // of which chord steps (on the base case's factors or the loop's own)
    int factorizations = 0; // Jacobians factored
    int q_changes = 0;      // buses held or released
    NewtonResult last;      // the last Newton solve
    // Why it did not converge. Where a Newton solve failed, it gives
    // `iterations`: "no convergence in 56 iterations (the last Newton solve
    // stopped at max_iterations = 20)", "... (the last Newton solve stopped
    // on a mismatch that is not finite)", "singular Jacobian after 3
    // iterations".
    std::string failure;
    bool limits_unsettled = false; // the reactive-limit loop did not settle, every Newton solve converged
};

// Power into a branch at each end, pu: S_f = V_f·conj(Yff·V_f + Yft·V_t),
// S_t = V_t·conj(Ytf·V_f + Ytt·V_t), charging included, end shunts not.
struct BranchFlow {
    std::complex<double> from, to;
};
