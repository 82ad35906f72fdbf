// A contingency list's blocks solved against one base case and made into
// the result files' rows: one block at a time on the calling thread, or
// shared among threads. vandrelsolve and the Python module both run their
// blocks through solve_block, so their rows are the same.
#pragma once

#include "contingency/contingency.h"
#include "contingency/ctg_list.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/state.h"
#include "raw/raw.h"
#include "results/violation_tags.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What every block of a run reads, and nothing writes while the blocks are
// solved: so one CtgRunInput may serve several threads at once.
struct CtgRunInput {
    const Network *net = nullptr;
    const BaseCase *bc = nullptr;
    const PfOptions *opt = nullptr;
    const BaseValues *base_vals = nullptr; // base_values of bc
    const std::vector<CtgBlock> *blocks = nullptr;
    // Where option detail's folders go (detail_path; empty: none written),
    // and the RAW's units their units files name.
    std::string detail_dir;
    const std::vector<Unit> *raw_units = nullptr;
};

// One block's rows in the results, violations and interfaces files (the
// last with a monitor file, for a converged block), and what a run's
// summary counts of it.
struct CtgRows {
    std::string results, violations, interfaces;
    CtgStatus status = CtgStatus::unsupported;
    bool islanded = false;
    bool with_violations = false;
    std::string warning; // why its detail folder was not written ("" otherwise)
};

// Block n of in.blocks (index n + 1 in its rows) solved on workspace ws:
// solve_contingency, its violations tagged (tag_violations), its rows, and
// its detail folder where option detail names it and in.detail_dir is set.
CtgRows solve_block(const CtgRunInput &in, std::size_t n, NewtonWorkspace &ws);

// Called from the calling thread with the blocks done and the blocks to
// do; returning false stops the run: the blocks not begun are not solved.
using CtgProgress = std::function<bool(std::size_t done, std::size_t total)>;

// Blocks [first, last) of in.blocks by solve_block, their rows in list
// order. One thread: each on the calling thread, on ws (a workspace of its
// own when null). Several: each thread takes the next block not yet taken,
// on a workspace of its own made from bc's Ybus, and writes its rows into
// the block's own slot, while the calling thread waits and reports
// progress. The rows do not depend on the thread count. Where progress
// stops the run, the slots of blocks not solved stay empty (results "").
std::vector<CtgRows> solve_blocks(const CtgRunInput &in, std::size_t first, std::size_t last, int threads,
                                  NewtonWorkspace *ws = nullptr, const CtgProgress &progress = {});
