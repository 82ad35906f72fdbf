// One solve of the reactive-limit loop, as a ladder: chord steps on the
// base case's factors, then on the loop's own factors, then
// Newton-Raphson from the same start.
#pragma once

#include "powerflow/chord.h"
#include "powerflow/state.h"

// The chord steps of one reactive-limit loop: on the base case's factors
// while the bus kinds changed in few rows, then on the loop's own factors
// (make_local_chord_base), taken where the base case's stopped helping.
struct Chords {
    const ChordBase *shared = nullptr;
    ChordState shared_st;
    ChordBase own;
    ChordState own_st;
};

// One solve. With base factors: chord steps on them, or once the bus kinds
// have moved too far from the base case's, on the loop's own factors,
// taken afresh where they stop converging; Newton-Raphson from the same
// start only if those fail too. Without: Newton-Raphson. False with
// s.failure set when it fails.
bool solve_once(const Network &net, const Ybus &y, PfSolution &s, const PfOptions &opt, NewtonWorkspace &ws,
                Chords &ch);
