// Newton-Raphson AC power flow in polar form on a fixed sparsity pattern,
// with KLU: one symbolic analysis per network, a numeric factorization per
// step.
#pragma once

#include "powerflow/state.h"

#include <Eigen/Core>

#include <vector>

// The Jacobian's pattern of a network (see JacobianPattern).
JacobianPattern jacobian_pattern(const Ybus &y, const Network &net);

// A workspace for the solves of a network with this Ybus (see
// NewtonWorkspace): its Jacobian pattern and KLU's analysis of it.
NewtonWorkspace make_workspace(const Ybus &y, const Network &net);

// Factors the Jacobian in ws.pat.j into ws.numeric: a refactorization on
// the pivot order of the last factorization (about half the work), and a
// fresh factorization with pivoting when there is none yet or the reused
// order gives a pivot too small to trust (reciprocal condition estimate
// below 1e-12). Returns false for a singular matrix.
bool factor_jacobian(NewtonWorkspace &ws);

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
// chord step); one that did not makes the next refactor. With
// opt.give_up_early it stops, not converged, once a step leaves the largest
// mismatch above where it started or two steps in a row fail to halve it.
NewtonResult newton_pf(const Network &net, const Ybus &y, const BusSchedule &sch, Voltages &v, const PfOptions &opt,
                       NewtonWorkspace &ws);
