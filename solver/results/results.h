// Result files. Every file is written in full under a temporary name in its
// own directory and renamed into place, so a reader sees either the old file
// or the whole new one, never a torn one; P ranks may write the same file.
#pragma once

#include "powerflow/base_case.h"
#include "powerflow/control_loop.h"
#include "powerflow/flows.h"

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

// A solved network as the bus, branch and unit files read it: its branches
// in service, the solution, a workspace whose `current` holds Ybus·V at
// the solution (unit_q reads it), the fraction of each branch's admittance
// left in (empty: all of it; a branch's flows are its full-stamp flows
// times its fraction) and a unit taken out of the schedule but not of the
// network (−1: none).
struct SolvedNetwork {
    const Network &net;
    const std::vector<char> &on;
    const PfSolution &sol;
    const NewtonWorkspace &ws;
    std::vector<double> branch_scale;
    int removed_unit = -1;
    // Each unit's active output where a generator response fixed it, pu
    // (CtgState::slack_unit_p; empty: none).
    std::vector<double> slack_unit_p;
};

// The base case as a SolvedNetwork.
SolvedNetwork solved_base(const Network &net, const BaseCase &bc);

// The output of the units at every bus, pu, as buses_csv gives it (pg_mw,
// qg_mvar; 0 at buses cut off and at star points).
std::vector<std::complex<double>> bus_output(const SolvedNetwork &s);

// The flows of every branch in service between energised buses
// (branch_flows) times its fraction of admittance, ties' flows found from
// those.
std::vector<BranchFlow> solved_flows(const SolvedNetwork &s);

// What VSC converter k of line x puts out at its bus, Mvar, as
// base_dclines.csv gives it: at a fixed power factor its set Q; holding its
// AC voltage, its share of the bus's reactive output (unit_q) in proportion
// to its reactive range among the converters' and units' ranges there.
double vsc_q(const SolvedNetwork &s, const NetVsc &x, std::size_t k);

// A bus file (base_buses_columns): every energised RAW bus in file order.
// Columns: docs/file-formats.md
std::string buses_csv(const SolvedNetwork &s);
std::string base_buses_csv(const Network &net, const BaseCase &bc);

// A branch file (base_branches_columns): every in-service branch of the
// solved islands, loadings against `rating_set`.
// Columns: docs/file-formats.md
std::string branches_csv(const SolvedNetwork &s, int rating_set);
std::string base_branches_csv(const Network &net, const BaseCase &bc, int rating_set);

// base_dclines.csv (base_dclines_columns): every DC line of the network in
// RAW order, two-terminal lines first. Columns: docs/file-formats.md
std::string base_dclines_csv(const Network &net, const BaseCase &bc);

// base_violations.csv (base_violations_columns): the violations of the
// base case (limits NVLO/NVHI and the base rating).
// Columns: docs/file-formats.md
std::string base_violations_csv(const Assessment &a);

// base_interfaces.csv (base_interfaces_columns), with a monitor file: each
// interface's flow in the base case, in the monitor's order (mw signed,
// loading_pct 100·|mw|/rating_mw).
std::string base_interfaces_csv(const MonitorCriteria &m, const Assessment &a);

// One row of base_controls.csv: a control (or any device that holds a
// quantity within a band), the band and where it ended.
struct ControlRow {
    std::string kind;      // switched_shunt, tap_voltage, tap_reactive, phase_shifter
    std::string device;    // a shunt as BUS-ID, a winding as its branch label (from-to[-k]-ckt)
    int winding = 0;       // 1 to 3 for a 3-winding transformer's winding, else 0 (empty)
    int regulated_bus = 0; // RAW number of the bus whose voltage it holds, 0 (empty) for a flow
    double low = 0, high = 0;
    double value = 0;   // the quantity held: pu, or MW/Mvar for a flow; NaN (empty) when off
    double setting = 0; // ratio as WINDV, angle in degrees, shunt Mvar at 1 pu
    std::string state;  // control_state_name
};

// The rows of every control acting in the base case, in network order
// (switched shunts in RAW order, then windings).
std::vector<ControlRow> base_control_rows(const Network &net, const ControlsOutcome &out);

// base_controls.csv (base_controls_columns): one row per ControlRow.
// Columns: docs/file-formats.md
std::string controls_csv(const std::vector<ControlRow> &rows);

// A row per bus held by remote regulation in the base case: kind
// remote_voltage, device its plants' buses (space-separated), the band VS..VS,
// value its |V|, setting the plants' total Mvar, at_limit where every plant
// is held at a reactive limit.
std::vector<ControlRow> regulation_rows(const Network &net, const BaseCase &bc);

// The rows of base_controls.csv: regulation_rows, then base_control_rows
// where any control acts in the base case (empty: no file).
std::vector<ControlRow> base_controls_file_rows(const Network &net, const BaseCase &bc, const PfOptions &opt,
                                                const ControlsOutcome &out);

// Why a base case did not converge: "the base case has no solution:
// FAILURE; largest mismatch X pu at bus N" (the last part where Newton
// names a bus).
std::string base_case_failure(const Network &net, const BaseCase &bc);

// One number as the result files print it: 12 significant digits, no "-0".
std::string num(double x);
