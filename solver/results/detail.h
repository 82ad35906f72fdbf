// A contingency's detail: its whole solved state, written on request
// (option "detail") as the base case's files are, one folder per
// contingency in SUB.detail/ beside the sub-file's results.
#pragma once

#include "contingency/contingency.h"
#include "contingency/ctg_list.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "raw/raw.h"

#include <string>
#include <vector>

// The folder name of a label: its bytes A-Z, a-z, 0-9, '.', '-' and '_'
// kept, every other byte (blanks, '/', '\', quotes, control and non-ASCII
// bytes...) made '_'; then a leading '.' made '_' and the name cut to 200
// bytes. An empty label is "_". So no name is ".", "..", hidden, or holds a
// path separator: "../x" is "_._x".
std::string detail_folder_name(const std::string &label);

// Writes DIR/detail_folder_name(label)/buses.csv, branches.csv and
// units.csv (base_buses_columns, base_branches_columns, base_units_columns)
// from the state a contingency kept (solve_contingency with keep_state),
// loadings against `rating_set`, each file atomically. `net` and `bc` are
// the network and base case the contingency was solved from, `block` its
// block, `raw_units` the RAW's units. Returns "" when written; without a
// kept state (statuses diverged, not_found, unsupported) writes nothing and
// returns the warning to give.
std::string write_detail(const std::string &dir, const std::vector<Unit> &raw_units, const Network &net,
                         const BaseCase &bc, const CtgBlock &block, const CtgResult &r, int rating_set);

// Removes the detail folder `path` of an earlier run, with all it holds (a
// symbolic link at the path goes, not what it points to); nothing there is
// fine. Throws InputError(path, 0, ...) when it can not.
void remove_detail_folder(const std::string &path);

// The labels of `detail` that no block of the whole contingency list has,
// in `detail`'s order, each once. A sub-file DIR/STEM_subctgR.con, as the
// driver names it, is one share of the list DIR/STEM.con, and only the
// share R = 0 answers, from that list (every share would find the same
// labels missing); where that list can not be read, none. A file of any
// other name is a whole list itself: `blocks`, its blocks.
std::vector<std::string> unknown_detail_labels(const std::vector<std::string> &detail, const std::string &subfile,
                                               const std::vector<CtgBlock> &blocks);
