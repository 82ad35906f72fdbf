#include "powerflow/ladder.h"

#include "powerflow/newton.h"

#include <cmath>
#include <string>

namespace {

// "1 iteration", "N iterations".
std::string iterations_text(int n) { return std::to_string(n) + (n == 1 ? " iteration" : " iterations"); }

// Why the last Newton solve failed, with the steps of the whole solve up to
// here, chord and Newton, every round of the reactive-limit loop: the
// number a results row gives. max_iterations bounds one Newton solve only.
std::string newton_failure(const PfSolution &s, const PfOptions &opt)
{
    const std::string steps = iterations_text(s.iterations);
    if (s.last.singular) {
        return "singular Jacobian after " + steps;
    }
    if (!std::isfinite(s.last.max_mismatch)) {
        return "no convergence in " + steps + " (the last Newton solve stopped on a mismatch that is not finite)";
    }
    return "no convergence in " + steps +
           " (the last Newton solve stopped at max_iterations = " + std::to_string(opt.max_iterations) + ")";
}

// Newton-Raphson from s.v, counted into s.
bool run_newton(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws)
{
    s.last = newton_pf(net, y, s.sch, s.v, opt, ws);
    s.iterations += s.last.iterations;
    s.factorizations += s.last.factorizations;
    return s.last.converged;
}

// Chord steps from s.v on `cb`, counted into s. True when they converged;
// otherwise s.v is where they got to if that is nearer a solution than
// `start` (its largest mismatch smaller), else `start`.
bool run_chord(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws,
               const ChordBase &cb, ChordState &st, const Voltages &start)
{
    const ChordResult c = chord_pf(net, y, s.sch, s.v, opt, ws, cb, st);
    s.iterations += c.r.iterations;
    s.chord_steps += c.r.iterations;
    if (c.r.converged) {
        s.last = c.r;
        return true;
    }
    if (!c.tried || c.r.iterations == 0 || !(c.r.max_mismatch < c.first_mismatch)) {
        s.v = start;
    }
    return false;
}

} // namespace

// One solve. With base factors: chord steps on them, or once the bus kinds
// have moved too far from the base case's, on the loop's own factors,
// taken afresh where they stop converging; Newton-Raphson from the same
// start only if those fail too. Without: Newton-Raphson. False with
// s.failure set when it fails.
bool solve_once(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws, Chords &ch)
{
    if (ch.shared != nullptr && !ch.shared->lu.empty()) {
        const Voltages start = s.v;
        const bool own = !ch.own.lu.empty();
        if (run_chord(net, y, s, opt, ws, own ? ch.own : *ch.shared, own ? ch.own_st : ch.shared_st, start)) {
            return true;
        }
        ch.own_st = ChordState{};
        if (make_local_chord_base(net, y, s.sch, s.v, ws, ch.own, ch.own_st)) {
            ++s.factorizations;
            if (run_chord(net, y, s, opt, ws, ch.own, ch.own_st, start)) {
                return true;
            }
        }
        if (run_newton(net, y, s, opt, ws)) {
            return true;
        }
        s.v = start;
    }
    if (!run_newton(net, y, s, opt, ws)) {
        s.failure = newton_failure(s, opt);
    }
    return s.last.converged;
}
