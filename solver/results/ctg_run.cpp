#include "results/ctg_run.h"

#include "powerflow/newton.h"
#include "results/ctg_results.h"
#include "results/detail.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

CtgRows solve_block(const CtgRunInput &in, std::size_t n, NewtonWorkspace &ws)
{
    const PfOptions &opt = *in.opt;
    const CtgBlock &block = (*in.blocks)[n];
    const bool detail = !in.detail_dir.empty() && in.raw_units != nullptr &&
                        std::find(opt.detail.begin(), opt.detail.end(), block.label) != opt.detail.end();
    CtgResult r = solve_contingency(*in.net, *in.bc, block, opt, ws, detail);
    tag_violations(*in.base_vals, opt, r.assessment);
    CtgRows rows;
    if (detail) {
        rows.warning = write_detail(in.detail_dir, *in.raw_units, *in.net, *in.bc, block, r, opt.contingency_rating);
    }
    const int index = static_cast<int>(n) + 1;
    rows.results = results_row(index, block.label, r);
    rows.violations = violation_rows(index, block.label, r.assessment, opt.report_new_or_worse);
    const MonitorCriteria *monitor = in.bc->monitor.get();
    if (monitor != nullptr && r.status == CtgStatus::converged) {
        rows.interfaces = interface_rows(index, block.label, *monitor, r.assessment);
    }
    rows.status = r.status;
    rows.islanded = r.islanded;
    rows.with_violations = !r.assessment.violations.empty();
    return rows;
}

namespace {

// One thread's blocks on the calling thread: in order, progress after each.
void solve_in_order(const CtgRunInput &in, std::size_t first, NewtonWorkspace &ws, const CtgProgress &progress,
                    std::vector<CtgRows> &out)
{
    for (std::size_t k = 0; k < out.size(); ++k) {
        out[k] = solve_block(in, first + k, ws);
        if (progress && !progress(k + 1, out.size())) {
            return;
        }
    }
}

// What the threads of solve_shared share: the next block to take, the
// count done, and the first exception a thread met.
struct SharedRun {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex m;
    std::condition_variable cv;
    std::size_t done = 0; // under m
    std::exception_ptr error;
};

// A worker: blocks taken one at a time until none is left or the run stops,
// each on the thread's own workspace, its rows into its own slot.
void worker(const CtgRunInput &in, std::size_t first, SharedRun &run, std::vector<CtgRows> &out)
{
    try {
        NewtonWorkspace ws = make_workspace(in.bc->y, *in.net);
        for (std::size_t k = run.next++; k < out.size() && !run.stop; k = run.next++) {
            out[k] = solve_block(in, first + k, ws);
            const std::lock_guard<std::mutex> lock(run.m);
            ++run.done;
            run.cv.notify_one();
        }
    } catch (...) {
        const std::lock_guard<std::mutex> lock(run.m);
        if (!run.error) {
            run.error = std::current_exception();
        }
        run.stop = true;
        run.cv.notify_one();
    }
}

// Blocks shared among `threads` workers; the calling thread reports
// progress whenever the count done moved, and stops the workers when it
// says so, throws, or a worker failed. The first exception, a worker's or
// progress's, is thrown here once every worker has ended.
void solve_shared(const CtgRunInput &in, std::size_t first, int threads, const CtgProgress &progress,
                  std::vector<CtgRows> &out)
{
    SharedRun run;
    std::vector<std::thread> pool;
    const auto count = std::min<std::size_t>(static_cast<std::size_t>(threads), out.size());
    for (std::size_t t = 0; t < count; ++t) {
        pool.emplace_back(worker, std::cref(in), first, std::ref(run), std::ref(out));
    }
    std::size_t reported = 0;
    std::unique_lock<std::mutex> lock(run.m);
    while (reported < out.size() && !run.stop) {
        run.cv.wait(lock, [&run, reported] { return run.done != reported || run.stop; });
        const std::size_t done = run.done;
        if (done == reported) {
            continue;
        }
        reported = done;
        lock.unlock();
        bool go_on = true;
        std::exception_ptr thrown;
        try {
            go_on = !progress || progress(done, out.size());
        } catch (...) {
            thrown = std::current_exception();
        }
        lock.lock();
        if (thrown && !run.error) {
            run.error = thrown;
        }
        if (!go_on || thrown) {
            run.stop = true;
        }
    }
    lock.unlock();
    for (std::thread &t : pool) {
        t.join();
    }
    if (run.error) {
        std::rethrow_exception(run.error);
    }
}

} // namespace

std::vector<CtgRows> solve_blocks(const CtgRunInput &in, std::size_t first, std::size_t last, int threads,
                                  NewtonWorkspace *ws, const CtgProgress &progress)
{
    std::vector<CtgRows> out(last > first ? last - first : 0);
    if (out.empty()) {
        return out;
    }
    if (threads <= 1 || out.size() == 1) {
        if (ws != nullptr) {
            solve_in_order(in, first, *ws, progress, out);
        } else {
            NewtonWorkspace own = make_workspace(in.bc->y, *in.net);
            solve_in_order(in, first, own, progress, out);
        }
        return out;
    }
    solve_shared(in, first, threads, progress, out);
    return out;
}
