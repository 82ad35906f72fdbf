// vandrelsolve: AC power-flow solver for one share of a contingency list.
//
//   vandrelsolve SUBFILE.con CASE.json CASE.raw DIR 1 1 1 RUNTYPE OPTIONS.json OUTDIR
//
// Reads the PSS/E RAW v33 network, solves its base case by Newton-Raphson
// with reactive limits and writes base_buses.csv, base_units.csv, base_branches.csv,
// base_violations.csv, with a monitor file (CASE.json's "monitor")
// base_interfaces.csv, for a case with DC lines base_dclines.csv, with FACTS
// devices base_facts.csv and, where
// the options adjust any control the case has, base_controls.csv into
// OUTDIR. With RUNTYPE 2 it then solves every
// contingency of SUBFILE from the base case and writes SUB.results.csv and
// SUB.violations.csv (SUB: the sub-file's name without ".con"), with a
// monitor file SUB.interfaces.csv, and the
// contingencies named in option detail their folders in SUB.detail/.
// Errors go to stderr as "vandrelsolve: FILE:LINE: what is wrong". Whatever
// a message echoes of the input (names, paths, fields) is shown as
// printable() makes it.
// Exit status: 0 done, 1 bad input or no base-case solution, 2 usage.

#include "cli/options.h"
#include "contingency/contingency.h"
#include "io/atomic_file.h"
#include "io/input_error.h"
#include "io/printable.h"
#include "monitor/grammar.h"
#include "monitor/select.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/continuation.h"
#include "powerflow/control_loop.h"
#include "powerflow/state.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "results/ctg_results.h"
#include "results/ctg_run.h"
#include "results/detail.h"
#include "results/facts_csv.h"
#include "results/results.h"
#include "results/units.h"
#include "results/violation_tags.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const char *const usage = "usage: vandrelsolve SUBFILE.con CASE.json CASE.raw DIR 1 1 1 RUNTYPE OPTIONS.json OUTDIR\n"
                          "  RUNTYPE 1: base case only; 2: base case and contingencies";

struct Args {
    std::string subfile, case_json, raw, dir, options, outdir;
    int run_type = 1;
};

bool parse_args(const std::vector<std::string> &a, Args &args)
{
    if (a.size() != 11 || a[5] != "1" || a[6] != "1" || a[7] != "1" || (a[8] != "1" && a[8] != "2")) {
        return false;
    }
    args = Args{a[1], a[2], a[3], a[4], a[9], a[10], a[8] == "1" ? 1 : 2};
    return true;
}

void require_directory(const std::string &path)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) {
        throw InputError(path, 0, "not a directory");
    }
}

std::string join(const std::string &dir, const std::string &name)
{
    return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

// One line saying what the ties joined, one if any node holds a loop of
// ties, and the notes of joining them (set-points that differ).
void warn_of_ties(const Network &net, double threshold)
{
    if (net.tie_nodes.empty()) {
        return;
    }
    std::size_t ties = 0;
    std::size_t buses = 0;
    int loops = 0;
    for (const TieNode &node : net.tie_nodes) {
        ties += node.ties.size();
        buses += node.buses.size();
        loops += node.loop ? 1 : 0;
    }
    std::cerr << "vandrelsolve: warning: " << ties << " tie(s) (lines of |R + jX| below " << num(threshold)
              << " pu, closed switching devices) join " << buses << " buses into " << net.tie_nodes.size()
              << " node(s), each solved as one bus" << std::endl;
    if (loops > 0) {
        std::cerr << "vandrelsolve: warning: " << loops
                  << " node(s) hold a loop of ties; the ties of a loop share its flow evenly" << std::endl;
    }
}

// A base case solved at a state with an energised bus outside the realistic
// range is no operating point; its files are written all the same.
void warn_if_unrealistic(const Network &net, const BaseCase &bc, const PfOptions &opt)
{
    const int b = unrealistic_bus(bc.sol.sch, bc.sol.v, opt);
    if (b < 0) {
        return;
    }
    char range[96];
    std::snprintf(range, sizeof range, " at %.4f pu, outside the realistic range %g to %g pu",
                  std::fabs(bc.sol.v.vm[b]), opt.min_realistic_vm_pu, opt.max_realistic_vm_pu);
    std::cerr << "vandrelsolve: warning: the base case is no operating point: bus " << net.buses[b].number << range
              << "; its files are written as solved" << std::endl;
}

// The RAW's units and branches in the base case, FACTS devices' elements left out.
int count_in_service_units(const Network &net, const BaseCase &bc)
{
    return static_cast<int>(std::count_if(net.units.begin(), net.units.end(), [&bc](const NetUnit &u) {
        return u.in_service && u.facts < 0 && bc.sol.sch.kind[u.bus] != BusKind::off;
    }));
}

int count_in_service_branches(const Network &net, const BaseCase &bc)
{
    int n = 0;
    for (std::size_t k = 0; k < net.branches.size(); ++k) {
        n += bc.on[k] != 0 && net.branches[k].facts < 0 ? 1 : 0;
    }
    return n;
}

// The base case's console line, and what its generator response did.
void print_base_case(const std::string &label, const Network &net, const BaseCase &bc, const Assessment &base)
{
    const auto held = std::count_if(bc.sol.held.begin(), bc.sol.held.end(), [](signed char h) { return h != 0; });
    const int branches = count_in_service_branches(net, bc);
    std::cout << "vandrelsolve: " << label << ": base case converged in " << bc.sol.iterations
              << " iterations, largest mismatch " << num(bc.sol.last.max_mismatch) << " pu; "
              << net.raw_buses - bc.cut_off << " buses, " << branches << " branches, "
              << count_in_service_units(net, bc) << " units, " << held << " held at a reactive limit, "
              << base.violations.size() << " violations" << std::endl;
    if (!bc.response_note.empty()) {
        std::cout << "vandrelsolve: base case: " << bc.response_note << std::endl;
    }
}

// Solves every block of the sub-file (solve_blocks, one thread, on the base
// case's workspace) and writes its two result files, violations first: the
// results file, renamed into place last, marks a complete run. The blocks
// named in option detail get their detail folder.
void run_contingencies(const Args &args, const RawCase &raw, const Network &net, BaseCase &bc, const PfOptions &opt,
                       const Assessment &base)
{
    const BaseValues base_vals = base_values(net, bc, base);
    const std::vector<CtgBlock> blocks = read_ctg_blocks(args.subfile);
    for (const std::string &label : unknown_detail_labels(opt.detail, args.subfile, blocks)) {
        std::cerr << "vandrelsolve: warning: option 'detail' names contingency '" << printable(label)
                  << "', which the contingency list does not have" << std::endl;
    }
    std::string results = header_line(results_columns);
    std::string violations = header_line(violations_columns);
    const bool monitored = bc.monitor != nullptr;
    std::string interfaces = monitored ? header_line(interfaces_columns) : "";
    std::array<int, ctg_status_count> count{};
    int islanded = 0;
    int with_violations = 0;
    CtgRunInput in{&net, &bc, &opt, &base_vals, &blocks, detail_path(args.outdir, args.subfile), &raw.units};
    for (const CtgRows &r : solve_blocks(in, 0, blocks.size(), 1, &bc.ws)) {
        if (!r.warning.empty()) {
            std::cerr << "vandrelsolve: warning: " << r.warning << std::endl;
        }
        results += r.results;
        violations += r.violations;
        interfaces += r.interfaces;
        ++count[static_cast<std::size_t>(r.status)];
        islanded += r.islanded ? 1 : 0;
        with_violations += r.with_violations ? 1 : 0;
    }
    write_file_atomically(violations_path(args.outdir, args.subfile), violations);
    if (monitored) {
        write_file_atomically(interfaces_path(args.outdir, args.subfile), interfaces);
    }
    const std::string path = results_path(args.outdir, args.subfile);
    write_file_atomically(path, results);
    const auto n_of = [&count](CtgStatus s) { return count[static_cast<std::size_t>(s)]; };
    std::cout << "vandrelsolve: " << printable(args.subfile) << ": " << blocks.size()
              << " contingencies: " << n_of(CtgStatus::converged) << " converged, " << n_of(CtgStatus::unrealistic)
              << " unrealistic, " << n_of(CtgStatus::no_solution) << " no solution, " << n_of(CtgStatus::diverged)
              << " diverged, " << islanded << " islanded, " << n_of(CtgStatus::not_found) << " not found, "
              << n_of(CtgStatus::unsupported) << " unsupported; " << with_violations << " with violations; results in "
              << printable(path) << std::endl;
}

// base_dclines.csv for a case with DC lines, base_facts.csv for one with
// FACTS devices.
void write_base_devices(const std::string &outdir, const Network &net, const BaseCase &bc)
{
    if (has_dc_lines(net)) {
        write_file_atomically(join(outdir, "base_dclines.csv"), base_dclines_csv(net, bc));
    }
    if (!net.facts.empty()) {
        write_file_atomically(join(outdir, "base_facts.csv"), facts_csv(solved_base(net, bc)));
    }
}

// base_controls.csv where any control acts in the base case (an earlier
// run's file goes otherwise), and one warning line for controls that hunted.
void write_base_controls(const std::string &outdir, const Network &net, const BaseCase &bc, const PfOptions &opt,
                         const ControlsOutcome &controls)
{
    const std::string path = join(outdir, "base_controls.csv");
    const std::vector<ControlRow> rows = base_controls_file_rows(net, bc, opt, controls);
    if (rows.empty()) {
        std::remove(path.c_str());
        return;
    }
    write_file_atomically(path, controls_csv(rows));
    if (controls.hunted > 0) {
        std::cerr << "vandrelsolve: warning: " << controls.hunted
                  << " control(s) of the base case stepped back and forth without settling in their band; each is "
                     "left at its last setting (state hunted in base_controls.csv)"
                  << std::endl;
    }
}

// The settings' monitor file, read (none without one).
std::optional<MonitorFile> monitor_file(const CaseSettings &settings)
{
    if (settings.monitor.empty()) {
        return std::nullopt;
    }
    return read_monitor(settings.monitor);
}

// The monitor file's selection in the network, its warnings printed (none
// without a monitor file).
std::optional<MonitorSelection> select_monitor(const std::optional<MonitorFile> &mon, const Network &net)
{
    if (!mon) {
        return std::nullopt;
    }
    MonitorSelection sel = select_monitored(*mon, net);
    for (const std::string &w : sel.warnings) {
        std::cerr << "vandrelsolve: warning: " << w << std::endl;
    }
    return sel;
}

// The criteria of a selection, deviations measured from the base case
// (null without a monitor file).
std::shared_ptr<const MonitorCriteria> criteria_of(const std::optional<MonitorSelection> &selection, const Network &net,
                                                   const BaseCase &bc)
{
    if (!selection) {
        return nullptr;
    }
    return std::make_shared<const MonitorCriteria>(monitor_criteria(*selection, net, bc.sol));
}

// The base case's assessment, written to base_violations.csv and, with a
// monitor file, its interfaces to base_interfaces.csv (an earlier run's
// file goes otherwise).
Assessment write_base_assessment(const std::string &outdir, const Network &net, const BaseCase &bc,
                                 const PfOptions &opt)
{
    Assessment base = assess(net, bc.on, bc.sol, opt.base_rating, false, -1, nullptr, nullptr, bc.monitor.get());
    write_file_atomically(join(outdir, "base_violations.csv"), base_violations_csv(base));
    const std::string interfaces = join(outdir, "base_interfaces.csv");
    if (bc.monitor != nullptr) {
        write_file_atomically(interfaces, base_interfaces_csv(*bc.monitor, base));
    } else {
        std::remove(interfaces.c_str());
    }
    return base;
}

// One warning line where the base case did not solve from its first start
// and a retry (powerflow/hard_starts.h) did, naming the start that solved it.
void warn_of_start(const BaseCase &bc, const PfOptions &opt)
{
    if (!bc.start.empty()) {
        std::cerr << "vandrelsolve: warning: the base case did not solve from "
                  << (opt.flat_start ? "a flat start" : "the RAW's voltages")
                  << "; the start that solved it: " << bc.start << std::endl;
    }
}

int run(const Args &args)
{
    if (args.run_type == 2) {
        // Results of an earlier run go first: a run that fails leaves none.
        std::remove(results_path(args.outdir, args.subfile).c_str());
        std::remove(violations_path(args.outdir, args.subfile).c_str());
        std::remove(interfaces_path(args.outdir, args.subfile).c_str());
        remove_detail_folder(detail_path(args.outdir, args.subfile));
    }
    const CaseSettings settings = read_case_settings(args.case_json);
    const PfOptions opt = read_options(args.options);
    const std::optional<MonitorFile> monitor = monitor_file(settings);
    require_directory(args.dir);
    require_directory(args.outdir);
    const RawCase raw = read_raw(args.raw, settings.raw_version);
    for (const std::string &note : raw.notes) {
        std::cerr << "vandrelsolve: warning: " << printable(note) << std::endl;
    }
    check_rating_sets(raw, args.options, opt);
    Network net = build_network(raw, opt.zero_impedance_threshold_pu, opt.remote_regulation, opt.auto_swing);
    warn_of_ties(net, opt.zero_impedance_threshold_pu);
    const std::optional<MonitorSelection> selection = select_monitor(monitor, net);
    for (const std::string &note : net.notes) {
        std::cerr << "vandrelsolve: warning: " << printable(note) << std::endl;
    }
    const std::string label = printable(settings.name.empty() ? args.raw : settings.name);
    for (const int s : net.slacks) {
        if (net.buses[s].ideal_source) {
            std::cerr << "vandrelsolve: warning: slack bus " << net.buses[s].number
                      << " has no unit in service; it is an ideal source at its RAW voltage and angle" << std::endl;
        }
    }
    if (net.remote_ireg > 0 && !opt.remote_regulation) {
        std::cerr << "vandrelsolve: warning: " << net.remote_ireg
                  << " in-service unit(s) name a remote regulated bus (IREG); with remote_regulation false, each holds "
                     "its own terminal at VS"
                  << std::endl;
    }

    // With controls acting, the base case adjusts them in net itself: the
    // contingencies are solved on the adjusted network.
    ControlsOutcome controls;
    BaseCase bc = solve_base_case_with_controls(net, opt, controls);
    if (!bc.sol.converged) {
        throw InputError(args.raw, 0, base_case_failure(net, bc));
    }
    warn_of_start(bc, opt);
    if (bc.cut_off > 0) {
        std::string buses;
        for (int i = 0; i < net.raw_buses; ++i) {
            if (bc.island[static_cast<std::size_t>(i)] < 0) {
                buses += (buses.empty() ? "" : " ") + std::to_string(net.buses[i].number);
            }
        }
        std::cerr << "vandrelsolve: warning: the network is split; " << bc.cut_off
                  << " bus(es) in islands without a slack bus are left out: " << buses << std::endl;
    }
    warn_if_unrealistic(net, bc, opt);
    bc.monitor = criteria_of(selection, net, bc);
    write_file_atomically(join(args.outdir, "base_buses.csv"), base_buses_csv(net, bc));
    write_file_atomically(join(args.outdir, "base_units.csv"), units_csv(raw.units, solved_base(net, bc)));
    write_file_atomically(join(args.outdir, "base_branches.csv"), base_branches_csv(net, bc, opt.base_rating));
    write_base_devices(args.outdir, net, bc);
    write_base_controls(args.outdir, net, bc, opt, controls);
    const Assessment base = write_base_assessment(args.outdir, net, bc, opt);

    print_base_case(label, net, bc, base);

    if (args.run_type == 2) {
        run_contingencies(args, raw, net, bc, opt, base);
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    Args args;
    if (!parse_args(std::vector<std::string>(argv, argv + argc), args)) {
        std::cerr << usage << std::endl;
        return 2;
    }
    try {
        return run(args);
    } catch (const InputError &e) {
        std::cerr << "vandrelsolve: " << where_what(e) << std::endl;
    } catch (const std::exception &e) {
        std::cerr << "vandrelsolve: " << printable(e.what()) << std::endl;
    }
    return 1;
}
