// Newton-Raphson AC power flow in polar form on a fixed sparsity pattern,
// with KLU: one symbolic analysis per network, a numeric factorization per
// step.
#pragma once

#include "network/ybus.h"

#include <Eigen/Core>
#include <Eigen/SparseCore>

#include <klu.h>

#include <memory>
#include <string>
#include <vector>

// When a kind of control acts: never (its devices stay as the RAW has
// them), in the base case only (every contingency then holds the base
// case's settings), or in the base case and in every contingency (each
// starting from the base case's settings).
enum class ControlMode { locked, base, all };

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
    ControlMode adjust_taps = ControlMode::locked;            // COD 1 and 2 windings (powerflow/controls.h)
    ControlMode adjust_phase_shifters = ControlMode::locked;  // COD 3
    ControlMode adjust_switched_shunts = ControlMode::locked; // MODSW 1 and 2
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
// member left), ratio[b] member b's share over ref's (regulation.h); all
// four are empty without groups.
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
// (regulation.h); `extra` lists the positions of those that are no Ybus
// entry's.
// y_t[e] is the position of Ybus entry (k, i) in Ybus's value array.
struct JacobianPattern {
    Eigen::SparseMatrix<double, Eigen::ColMajor, int> j;
    std::vector<int> p_th, p_vm, q_th, q_vm;
    std::vector<int> extra;
    std::vector<int> y_t;
};
JacobianPattern jacobian_pattern(const Ybus &y, const Network &net);

struct KluDeleter {
    klu_common *common;
    void operator()(klu_symbolic *s) const { klu_free_symbolic(&s, common); }
    void operator()(klu_numeric *num) const { klu_free_numeric(&num, common); }
};

using KluNumeric = std::unique_ptr<klu_numeric, KluDeleter>;

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
};
NewtonWorkspace make_workspace(const Ybus &y, const Network &net);

// Factors the Jacobian in ws.pat.j into ws.numeric: a refactorization on
// the pivot order of the last factorization (about half the work), and a
// fresh factorization with pivoting when there is none yet or the reused
// order gives a pivot too small to trust (reciprocal condition estimate
// below 1e-12). Returns false for a singular matrix.
bool factor_jacobian(NewtonWorkspace &ws);

struct NewtonResult {
    bool converged = false;
    bool singular = false;
    int iterations = 0;
    int factorizations = 0;  // Jacobians factored (steps that reused one did not)
    double max_mismatch = 0; // pu
    int worst_bus = -1;      // bus index of the largest mismatch
};

// Bus mismatches F = S(V) − S_sched(V), S_i = V_i·conj((Ybus·V)_i),
//   S_sched = (pg + j·qgen) − (pd + j·qd) − (ip + j·iq)·|V| − (pdc + j·qdc)
// (constant-admittance load is inside Ybus). F_P is 0 at the slack and
// cut-off buses, F_Q at every bus that is not pq. Returns the largest |F|
// and its bus.
double mismatch(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws,
                int &worst_bus);

// The same at the complex voltages already in ws.vc (which must be v's).
// Inside a solve (ws.in_solve), leaves ws.current_of set to &y.
double mismatch_at_vc(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws,
                      int &worst_bus);

// x ← x − ws.dx, with ws.vc kept equal to |V|·e^{jθ}: each bus's V is
// turned by e^{−jΔθ} and scaled by |V|new/|V|old, sin and cos of the small
// angle steps near a solution taken from their Taylor series.
void take_step(Voltages &v, NewtonWorkspace &ws);

// Fills ws.pat.j from the derivatives of S (polar form):
//   ∂S/∂θ   = j·diag(V)·conj(diag(I) − Ybus·diag(V))
//   ∂S/∂|V| = diag(V)·conj(Ybus·diag(V/|V|)) + conj(diag(I))·diag(V/|V|)
// plus ∂(−S_sched)/∂|V|_i = ip_i + j·iq_i on the diagonal. Takes V and
// Ybus·V from the last mismatch call, which must be at the same v.
void jacobian(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v, NewtonWorkspace &ws);

// One value of the Jacobian: its row, column and position in the pattern.
struct JacobianEntry {
    int row, col, pos;
    double value;
};

// Bus i's P and Q rows as jacobian() fills them at v (vc: its complex
// voltages), from Ybus's row i alone: what a change of bus i's kind
// changes. False, with nothing in out, for a network with regulation
// groups (whose Q rows reach other buses') or a Ybus whose pattern is not
// the pattern's.
bool jacobian_rows(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                   const Eigen::VectorXcd &vc, const JacobianPattern &pat, int i, std::vector<JacobianEntry> &out);

// Newton-Raphson from v until the largest mismatch is at most the
// tolerance; v holds the last iterate either way. A step that cut the
// largest mismatch at least tenfold lets the next one reuse its factors (a
// chord step); one that did not makes the next refactor.
NewtonResult newton_pf(const Network &net, const Ybus &y, const BusSchedule &sch, Voltages &v, const PfOptions &opt,
                       NewtonWorkspace &ws);

// Start point: the RAW's VM/VA, or with flat_start 1 pu at the slack's RAW
// angle turned by the phase shifts on the way from the slack; voltage-
// controlled buses start at their set-point VS either way, and every bus
// joined by ties at its node's representative's voltage.
Voltages initial_voltages(const Network &net, const BusSchedule &sch, bool flat_start);

// V_m = V_rep at every member m of a tie node: the members' own unknowns
// are held by identity rows, so a solve leaves them where they started.
void copy_tied_voltages(const Network &net, Voltages &v);
