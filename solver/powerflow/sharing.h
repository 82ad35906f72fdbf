// Generator response: the active power a change of the network calls for
// (a unit lost, load lost or added, an island's own imbalance, the losses
// moving) shared by the island's units instead of taken by its slack alone.
//
// Each island has one scalar k. Every unit that shares ends at
//   PG_i = min(hi_i, max(lo_i, PG0_i + α_i·k)),   α_i = w_i / Σw,
// PG0_i its output in the solved base case and w_i its weight by mode:
//   pmax     PT_i
//   reserve  PT_i − PG0_i where generation rises, PG0_i − PB_i where it falls
//   output   |PG0_i|
// (negative weights count as 0). k is found so that the slack's own units
// also end at their shares: the slack's P equation is kept, so the balance,
// losses included, stays exact. Where every sharing unit is at a limit
// (reserve exhausted), the slack takes the rest.
#pragma once

#include "powerflow/state.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// "swing", "pmax", ...
const char *response_name(ResponseMode m);

// Limits a unit must have to share: PT below this and PB above its
// negative, MW (PSS/E's defaults of 9,999 mean no limit given).
constexpr double no_limit_mw = 9999.0;

// One unit that shares, pu on SBASE.
struct Sharer {
    int unit = 0;
    int node = 0;   // where its output is scheduled
    int island = 0; // into Sharing::islands
    int slot = -1;  // into Sharing::nodes (−1: at a slack)
    double pg0 = 0;
    double lo = 0, hi = 0;       // [min(PB, PG0), max(PT, PG0)]: a unit outside its range is not moved to it
    double a_up = 0, a_down = 0; // α where generation rises (k > 0) and where it falls
};

// One island's sharing.
struct IslandShare {
    std::vector<int> slacks; // its slack nodes
    // For each slack, its output's sensitivity μ = J⁻ᵀ·∇P_s taken in the
    // base case (slack_sensitivity), or null where it has none (a new
    // slack).
    std::vector<const std::vector<double> *> mu;
    std::vector<int> members; // into Sharing::units
    double fixed = 0;         // base output at its slacks of units that do not share
    bool ideal = false;       // a slack with no unit (an ideal source): the slack takes the change
    double k = 0;
    double k_min = 0, k_max = 0; // beyond these every member is at a limit
    // dh/dk over its loss-free value, measured in the base case
    // (measure_share_slopes): the losses' share in a change of k. The first
    // pass's step is divided by it.
    double slope = 1;
    bool settled = false;
    bool exhausted = false;
    double left = 0; // what the slacks carry beyond every limit (exhausted), pu
    // (|k| at which a member reaches its limit, its α), sorted: where
    // generation rises and where it falls, taken when first needed.
    std::vector<std::pair<double, double>> caps_up, caps_down;
    // The last pass (k, residual) for the secant step.
    double k_prev = 0, h_prev = 0;
    bool has_prev = false;
};

struct Sharing {
    ResponseMode mode = ResponseMode::swing;
    std::vector<Sharer> units;
    std::vector<IslandShare> islands; // one per island number
    // The island of every bus (−1 off) make_sharing was given, which its
    // caller keeps alive.
    const std::vector<int> *island_of = nullptr;
    std::vector<int> nodes;      // nodes holding a sharer that is not at a slack
    std::vector<double> node_pg; // their schedule with every sharer at PG0
    int passes = 0;              // solves after the first
};

// The sensitivity of slack node s's active output to a state's mismatch
// at a solution: μ = J⁻ᵀ·∇P_s (J the Jacobian of the solve at v, over
// x = [θ, |V|]), so that near it a state x with mismatch F(x) has, at the
// solution Newton's step would reach, P_s ≈ P_s(x) − μᵀ·F(x). Empty where
// the Jacobian is singular.
std::vector<double> slack_sensitivity(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                                      NewtonWorkspace &ws, int s);

// Each unit's output at a solved base case, pu: PG where its bus is not a
// slack, a slack's output shared as results/units.h describes (share_slack_p).
std::vector<double> solved_unit_outputs(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v);

// A slack's active output P shared among its units (in-service, in `units`):
// P_u = PB_u + (P − ΣPB)·(PT_u − PB_u)/Σ(PT − PB) where every range is
// positive and finite, else P/n each.
void share_slack_p(const Network &net, const std::vector<int> &units, double p, std::vector<double> &out);

// The sharers of every island: in-service units at energised buses, with
// PT > PB, both limits given (|limit| below no_limit_mw) and WMOD 0, but
// `removed` and `changed` (a unit the outage itself takes out or sets; at
// a slack, the latter counts at its new output, net's).
// island: island of every bus (−1 off), pg0: every unit's base output.
Sharing make_sharing(const Network &net, ResponseMode mode, const std::vector<int> &island, const BusSchedule &sch,
                     const std::vector<double> &pg0, int removed, int changed);

// Sets each island's k for its slacks' output estimated from the base
// case, and schedules the sharers' outputs into sch.pg. The estimate: the
// island's slacks supply its base losses loss[c] less the net injection of
// its other buses at voltages v (constant-admittance load counts as loss).
void first_share(const Network &net, const std::vector<int> &island, const std::vector<double> &loss, const Voltages &v,
                 Sharing &s, BusSchedule &sch);

// The losses of each island at a solution: Σ Re(V_i·conj((Ybus·V)_i)) over
// its buses, pu.
std::vector<double> island_losses(const Network &net, const Ybus &y, const BusSchedule &sch, const Voltages &v,
                                  const std::vector<int> &island);

// What each island's members must put out at a solution: its slacks'
// output less the base output of the units at them that do not share, plus
// its sharers elsewhere at their shares. The slacks' output is taken at the
// solution the state is near, so that neither the solve's own tolerance
// nor a loose solve blurs it: P_s − μᵀ·F with each slack's sensitivity
// where ws holds the state's mismatch F and every slack of the island has
// one, else P_s plus the island's other buses' P mismatch (the lossless
// case of the same correction).
std::vector<double> wanted_outputs(const Network &net, const Ybus &y, const Sharing &s, const PfSolution &sol,
                                   const NewtonWorkspace *ws);

// Σ of an island's members' shares at k.
double members_output(const Sharing &s, std::size_t island, double k);

// The sharers' outputs at their islands' k into sch.pg (the slacks' are
// free).
void schedule_sharing(const Sharing &s, BusSchedule &sch);

// Passes (solves after the first) before a sharing is taken as not settling.
constexpr int max_share_passes = 20;

enum class ShareStep { settled, again, gave_up };

// One pass of the sharing at a converged solution: each island's residual
// h = Σ shares − what its members must put out (wanted_outputs). Settled where every |h| is
// within opt.tolerance_pu, or where an island's members are all at limits
// already (reserve exhausted: the slacks keep the rest). Otherwise each
// unsettled island's k moves (a secant step on h(k) from the last pass, or
// the loss-free balance at first), every sharer's output is recomputed
// from PG0 and k into sol.sch.pg, and the caller solves again. After
// max_share_passes it gives up: sol not converged, with failure "generator
// response did not settle in 20 passes". ws, where given, is the workspace
// of the solve that has just reached sol (its last mismatch taken at sol's
// voltages); without, they are computed afresh.
ShareStep share_step(const Network &net, const Ybus &y, Sharing &s, PfSolution &sol, const PfOptions &opt,
                     const NewtonWorkspace *ws);

// Drops the passes so far from the secant steps (a pass at a loose solve
// is too rough a point for one); the next step is a first step.
void forget_passes(Sharing &s);

// One full solve from a state with a changed schedule.
using ShareSolve = std::function<PfSolution(BusSchedule, std::vector<signed char>, Voltages)>;

// share_step and a full solve in turn from `first` (solved with the first
// shares scheduled), for the solves that do not take the sharing inside
// their reactive-limit loop (controls, continuation, the base case).
PfSolution settle_sharing(const Network &net, const Ybus &y, Sharing &s, PfSolution first, const PfOptions &opt,
                          const ShareSolve &solve);

// A sharer's output at its island's k, pu.
double share_of(const Sharer &u, double k);

// The MW the sharers other than the slacks' moved, signed.
double response_mw(const Network &net, const Sharing &s);

// The note of a settled sharing: "reserve exhausted: N MW left on the
// swing", "at a limit: unit 101 '1' (PT), ..." (at most five, then
// ", and N more"), "no unit shares the change: the swing takes it";
// empty where none applies.
std::string sharing_note(const Network &net, const Sharing &s);
