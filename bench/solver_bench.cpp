// Times the solver's phases on one case, in process: reading the RAW, the
// base case from a flat start and from the RAW's state, and every
// contingency of a list, without and with generator response, and with a
// monitor file. Prints one "key value" line per figure, for bench/solver.sh
// to tabulate.
//
// Usage: solver_bench CASE.raw LIST.con [REPEATS [MONITOR_OUT]]
// With MONITOR_OUT, a monitor file of 1,000 of the network's branches and
// 20 interfaces is written there and the list is solved once more with it.
#include "contingency/contingency.h"
#include "io/input_error.h"
#include "monitor/grammar.h"
#include "monitor/select.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/flows.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "results/ctg_results.h"
#include "results/violation_tags.h"

#include <sys/resource.h>
#include <time.h>

#include <Eigen/Dense>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// CPU time of this thread, ms: unlike the wall time, hardly moved by other
// work on a shared machine.
double cpu_ms()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

double ms_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Median wall time of `repeats` base-case solves, in ms.
double time_base(const Network &net, const PfOptions &opt, int repeats, BaseCase &bc)
{
    std::vector<double> t;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        bc = solve_base_case(net, opt);
        t.push_back(ms_since(t0));
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// What a contingency costs as a line fitted to every one solved:
//   t = fixed + per_step·steps + per_factorization·factorizations  (ms)
// by least squares; the mean of those that took no step besides.
void print_cost_fit(const std::vector<std::array<double, 3>> &runs)
{
    Eigen::MatrixXd a(static_cast<Eigen::Index>(runs.size()), 3);
    Eigen::VectorXd t(a.rows());
    double none = 0;
    int none_count = 0;
    for (Eigen::Index i = 0; i < a.rows(); ++i) {
        const auto &[ms, steps, factorizations] = runs[static_cast<std::size_t>(i)];
        a.row(i) << 1.0, steps, factorizations;
        t[i] = ms;
        if (steps == 0) {
            none += ms;
            ++none_count;
        }
    }
    const Eigen::Vector3d x =
        a.rows() >= 3 ? Eigen::Vector3d(a.colPivHouseholderQr().solve(t)) : Eigen::Vector3d::Zero();
    std::printf("ctg_no_step_count %d\nctg_no_step_ms %.3f\n", none_count, none_count > 0 ? none / none_count : 0.0);
    std::printf("fit_fixed_ms %.3f\nfit_step_ms %.3f\nfit_factorization_ms %.3f\n", x[0], x[1], x[2]);
}

// A monitor file for `net`: 1,000 of its in-service two-winding branches,
// spread evenly over the branch list, and 20 interfaces of 5 other such
// branches each, rated 500 MW.
std::string bench_monitor_text(const Network &net)
{
    std::vector<const NetBranch *> two_winding;
    for (const NetBranch &b : net.branches) {
        if (b.in_service && b.winding == 0) {
            two_winding.push_back(&b);
        }
    }
    const auto member = [](const NetBranch &b) {
        return std::to_string(b.from_bus) + " " + std::to_string(b.to_bus) + " '" + b.ckt + "'";
    };
    std::string text = "/ 1,000 branches and 20 interfaces, for the benchmark\n";
    const std::size_t n = two_winding.size();
    constexpr std::size_t monitored = 1000;
    constexpr std::size_t interfaces = 20;
    constexpr std::size_t members = 5;
    for (std::size_t k = 0; k < std::min(n, monitored); ++k) {
        const NetBranch &b = *two_winding[k * n / std::min(n, monitored)];
        text += "MONITOR BRANCH FROM BUS " + std::to_string(b.from_bus) + " TO BUS " + std::to_string(b.to_bus) +
                " CIRCUIT '" + b.ckt + "'\n";
    }
    for (std::size_t i = 0; i < interfaces; ++i) {
        text += "MONITOR INTERFACE 'BENCH " + std::to_string(i + 1) + "' RATING 500 MW\n";
        for (std::size_t m = 0; m < members && n > 0; ++m) {
            text += "   " + member(*two_winding[(i * members + m) * 7919 % n]) + "\n";
        }
        text += "END\n";
    }
    return text + "END\n";
}

// CPU ms per contingency of the list solved as vandrelsolve solves it: the
// solve, the violations' tags, the violation rows and, with a monitor file,
// the interface rows.
double time_as_the_solver(const Network &net, BaseCase &bc, const std::vector<CtgBlock> &blocks, const PfOptions &opt,
                          int &converged)
{
    const Assessment base = assess(net, bc.on, bc.sol, opt.base_rating, false, -1, nullptr, nullptr, bc.monitor.get());
    const BaseValues base_vals = base_values(net, bc, base);
    std::size_t bytes = 0;
    converged = 0;
    const double cpu0 = cpu_ms();
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        CtgResult r = solve_contingency(net, bc, blocks[k], opt, bc.ws);
        tag_violations(base_vals, opt, r.assessment);
        const int index = static_cast<int>(k) + 1;
        bytes += violation_rows(index, blocks[k].label, r.assessment).size();
        if (bc.monitor != nullptr && r.status == CtgStatus::converged) {
            bytes += interface_rows(index, blocks[k].label, *bc.monitor, r.assessment).size();
        }
        converged += r.status == CtgStatus::converged ? 1 : 0;
    }
    const double ms = (cpu_ms() - cpu0) / static_cast<double>(std::max<size_t>(1, blocks.size()));
    std::printf("rows_bytes %zu\n", bytes); // the rows are made, not kept
    return ms;
}

// The list solved as vandrelsolve solves it, without and with a monitor file
// written to `path`.
void time_with_monitor(const Network &net, const std::vector<CtgBlock> &blocks, PfOptions opt, const std::string &path)
{
    std::ofstream(path) << bench_monitor_text(net);
    const MonitorSelection sel = select_monitored(read_monitor(path), net);
    opt.generator_response = ResponseMode::swing;
    BaseCase bc = solve_base_case(net, opt);
    int converged = 0;
    const double without = time_as_the_solver(net, bc, blocks, opt, converged);
    bc.monitor = std::make_shared<const MonitorCriteria>(monitor_criteria(sel, net, bc.sol));
    const double with = time_as_the_solver(net, bc, blocks, opt, converged);
    std::printf("monitor_branches %zu\nmonitor_interfaces %zu\n", sel.branches.size(), sel.interfaces.size());
    std::printf("rows_ctg_cpu_mean_ms %.3f\nmonitor_ctg_cpu_mean_ms %.3f\nmonitor_converged %d\n", without, with,
                converged);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::cerr << "usage: solver_bench CASE.raw LIST.con [REPEATS [MONITOR_OUT]]" << std::endl;
        return 2;
    }
    const int repeats = argc > 3 ? std::max(1, std::stoi(argv[3])) : 5;
    try {
        auto t0 = std::chrono::steady_clock::now();
        const Network net = build_network(read_raw(argv[1]));
        std::printf("read_ms %.3f\nbuses %d\nbranches %zu\n", ms_since(t0), net.raw_buses, net.branches.size());

        PfOptions opt;
        opt.contingency_rating = 1;
        BaseCase bc;
        opt.flat_start = true;
        std::printf("base_flat_ms %.3f\n", time_base(net, opt, repeats, bc));
        std::printf("base_flat_iterations %d\nbase_flat_factorizations %d\n", bc.sol.iterations, bc.sol.factorizations);
        opt.flat_start = false;
        std::printf("base_raw_ms %.3f\n", time_base(net, opt, repeats, bc));
        if (!bc.sol.converged) {
            std::cerr << "solver_bench: the base case did not converge: " << bc.sol.failure << std::endl;
            return 1;
        }

        const std::vector<CtgBlock> blocks = read_ctg_blocks(argv[2]);
        std::vector<double> ms;
        std::vector<std::array<double, 3>> runs; // time, steps, factorizations of each
        long iterations = 0;
        long newton = 0;
        int with_newton = 0;
        int converged = 0;
        // Outages the direct solve did not settle, which went on to
        // continuation: their count, total and slowest time.
        int followed = 0;
        int by_continuation = 0;
        double followed_ms = 0;
        double followed_slowest = 0;
        t0 = std::chrono::steady_clock::now();
        const double cpu0 = cpu_ms();
        for (const CtgBlock &b : blocks) {
            const CtgResult r = solve_contingency(net, bc, b, opt, bc.ws);
            ms.push_back(r.solve_ms);
            const bool continued = r.status == CtgStatus::no_solution || r.status == CtgStatus::unrealistic ||
                                   r.note.find("solved by continuation") != std::string::npos;
            if (continued) {
                ++followed;
                by_continuation += r.status == CtgStatus::converged ? 1 : 0;
                followed_ms += r.solve_ms;
                followed_slowest = std::max(followed_slowest, r.solve_ms);
                continue; // the steps of the path are not the direct solve's
            }
            runs.push_back({r.solve_ms, static_cast<double>(r.iterations), static_cast<double>(r.sol.factorizations)});
            iterations += r.iterations;
            newton += r.sol.factorizations;
            with_newton += r.sol.factorizations > 0 ? 1 : 0;
            converged += r.status == CtgStatus::converged ? 1 : 0;
        }
        const double total = ms_since(t0);
        const double cpu = cpu_ms() - cpu0;
        const auto n = static_cast<double>(std::max<size_t>(1, blocks.size()));
        std::sort(ms.begin(), ms.end());
        std::printf("contingencies %zu\nconverged %d\nctg_total_ms %.1f\nctg_mean_ms %.3f\n", blocks.size(), converged,
                    total, total / n);
        std::printf("ctg_cpu_mean_ms %.3f\n", cpu / n);
        std::printf("ctg_median_ms %.3f\nctg_slowest_ms %.3f\n", ms.empty() ? 0.0 : ms[ms.size() / 2],
                    ms.empty() ? 0.0 : ms.back());
        std::printf("ctg_mean_steps %.2f\nctg_mean_factorizations %.2f\nctg_with_newton %d\nctg_per_s %.0f\n",
                    static_cast<double>(iterations) / n, static_cast<double>(newton) / n, with_newton,
                    1000.0 * n / total);
        std::printf(
            "ctg_followed %d\nctg_by_continuation %d\nctg_followed_mean_ms %.3f\nctg_followed_slowest_ms %.3f\n",
            followed, by_continuation, followed > 0 ? followed_ms / followed : 0.0, followed_slowest);
        std::printf("ctg_direct_mean_ms %.3f\n",
                    (total - followed_ms) / static_cast<double>(std::max<size_t>(1, blocks.size() - followed)));
        print_cost_fit(runs);

        // The same list with the loss shared by the units by PT.
        opt.generator_response = ResponseMode::pmax;
        BaseCase shared = solve_base_case(net, opt);
        int shared_converged = 0;
        long shared_steps = 0;
        t0 = std::chrono::steady_clock::now();
        const double shared_cpu0 = cpu_ms();
        for (const CtgBlock &b : blocks) {
            const CtgResult r = solve_contingency(net, shared, b, opt, shared.ws);
            shared_converged += r.status == CtgStatus::converged ? 1 : 0;
            shared_steps += r.iterations;
        }
        std::printf("pmax_ctg_mean_ms %.3f\npmax_ctg_cpu_mean_ms %.3f\npmax_converged %d\npmax_mean_steps %.2f\n",
                    ms_since(t0) / n, (cpu_ms() - shared_cpu0) / n, shared_converged,
                    static_cast<double>(shared_steps) / n);
        if (argc > 4) {
            time_with_monitor(net, blocks, opt, argv[4]);
        }
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        std::printf("peak_rss_mb %.1f\n", static_cast<double>(ru.ru_maxrss) / 1024.0);
    } catch (const InputError &e) {
        std::cerr << "solver_bench: " << where_what(e) << std::endl;
        return 1;
    }
    return 0;
}
