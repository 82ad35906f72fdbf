#!/usr/bin/env bash
# Times the solver on a case's whole contingency list: alone, in process
# (solver_bench: base case from a flat start, every contingency, every
# contingency again with generator_response "pmax", and twice more as
# vandrelsolve solves them, with the violations' tags and rows: without and
# with a monitor file of 1,000 branches and 20 interfaces), then
# through ctgbatch with 1 and 2 ranks, and prints one table.
#
# Usage: bench/solver.sh [-c CASE] [-b BUILD_DIR] [-r REPEATS] [-n RUNS] [-k]
#   -c  a case folder of the shared data (default: activsg2000), or a path
#       to a folder holding case.raw and case.con
#   -b  build directory (default build/bench, configured and built here)
#   -r  base-case solves to take the median of (default 5)
#   -n  ctgbatch runs per rank count to take the median of (default 3)
#   -k  keep the temporary run directory
# The case files are used in place; runs happen in a temporary folder.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"
case_name=activsg2000 build="$repo/build/bench" repeats=5 runs=3 keep=0
while getopts "c:b:r:n:kh" opt; do
    case $opt in
        c) case_name=$OPTARG ;; b) build=$OPTARG ;; r) repeats=$OPTARG ;; n) runs=$OPTARG ;; k) keep=1 ;;
        h) sed -n "5,12p" "$0"; exit 0 ;;
        *) sed -n "5,12p" "$0" >&2; exit 2 ;;
    esac
done
shared=${CTGBATCH_SHARED_DIR:-$repo/../shared}
case_dir=$case_name
[[ -d $case_dir ]] || case_dir="$shared/data/cases/$case_name"
case_dir=$(realpath "$case_dir")
# The runs happen in another folder: the build's path must not be relative.
build=$(realpath -m "$build")
[[ -f $case_dir/case.raw && -f $case_dir/case.con ]] ||
    { echo "no case.raw and case.con in $case_dir (set CTGBATCH_SHARED_DIR?)" >&2; exit 1; }

need_build_tools
need_packages time
if [[ ! -f $build/CMakeCache.txt ]]; then
    select_mpi mpich
    mkdir -p "$(dirname "$build")"
    cmake -S "$repo" -B "$build" -DCTGBATCH_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMPI_CXX_COMPILER="$MPI_CXX" -DMPIEXEC_EXECUTABLE="$MPIEXEC" >"$build.configure.log" ||
        { cat "$build.configure.log"; exit 1; }
fi
cmake --build "$build" -j 2 --target ctgbatch vandrelsolve ctgreport solver_bench >/dev/null
mpiexec=$(sed -n 's/^MPIEXEC_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")
allow_openmpi_anywhere

run=$(mktemp -d "${TMPDIR:-/tmp}/ctgbatch-solver-bench.XXXXXX")
if [[ $keep == 1 ]]; then echo "keeping $run"; else trap 'rm -rf "$run"' EXIT; fi

# The solver alone, in process.
"$build/solver/solver_bench" "$case_dir/case.raw" "$case_dir/case.con" "$repeats" "$run/bench.mon" >"$run/solver.txt"
val() { awk -v k="$1" '$1 == k { print $2 }' "$run/solver.txt"; }

# Through ctgbatch: each solver runs under /usr/bin/time for its peak RSS.
mkdir -p "$run/start" "$run/work_dir"
cp "$build/ctgbatch" "$run/start/"
cat >"$run/start/vandrelsolve" <<WRAP
#!/bin/sh
exec /usr/bin/time -f %M -o "$run/rss.\$\$" "$build/solver/vandrelsolve" "\$@"
WRAP
chmod +x "$run/start/vandrelsolve"
echo '{}' >"$run/start/options.json"
echo '{}' >"$run/work_dir/case.json"
ln -s "$case_dir/case.raw" "$run/work_dir/case.raw"
ln -s "$case_dir/case.con" "$run/work_dir/case.con"
# The median of several runs each: the wall time of a shared machine wanders.
declare -A wall
for p in 1 2; do
    times=()
    for _ in $(seq "$runs"); do
        rm -f "$run"/work_dir/case_subctg* "$run"/rss.*
        t0=$EPOCHREALTIME
        (cd "$run/start" && "$mpiexec" -n "$p" ./ctgbatch) >"$run/console.$p.log" 2>&1 ||
            { cat "$run/console.$p.log" >&2; exit 1; }
        t1=$EPOCHREALTIME
        times+=("$(awk "BEGIN { printf \"%.2f\", $t1 - $t0 }")")
    done
    wall[$p]=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    # Every contingency must have its result.
    (cd "$run/start" && "$build/solver/ctgreport") >"$run/report.$p.log" 2>&1 ||
        { echo "ctgreport after the $p-rank run:" >&2; cat "$run/report.$p.log" >&2; exit 1; }
    rss_kib[$p]=$(cat "$run"/rss.* | sort -n | tail -n 1)
done

n=$(val contingencies)
printf '%s: %s buses, %s branches, %s contingencies (%s converged)\n' "$(basename "$case_dir")" \
    "$(val buses)" "$(val branches)" "$n" "$(val converged)"
printf '%s, %s, %s cores, commit %s\n' "$(date -u +%F)" \
    "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)" "$(nproc)" \
    "$(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo unknown)$(git -C "$repo" diff --quiet HEAD -- 2>/dev/null || echo ' (modified)')"
printf '| %-44s | %12s |\n' "measure" "value"
printf '|%s|%s|\n' "$(printf -- '-%.0s' {1..46})" "$(printf -- '-%.0s' {1..14})"
row() { printf '| %-44s | %12s |\n' "$1" "$2"; }
row "base case, flat start (ms, median of $repeats)" "$(val base_flat_ms)"
row "base case, flat start: Newton steps" "$(val base_flat_iterations)"
row "base case, flat start: factorizations" "$(val base_flat_factorizations)"
row "contingencies, solver alone, total (s)" "$(awk -v t="$(val ctg_total_ms)" 'BEGIN { printf "%.2f", t / 1000 }')"
row "per contingency, mean (ms)" "$(val ctg_mean_ms)"
row "per contingency, mean CPU time (ms)" "$(val ctg_cpu_mean_ms)"
row "per contingency, median (ms)" "$(val ctg_median_ms)"
row "per contingency, slowest (ms)" "$(val ctg_slowest_ms)"
row "solved directly: mean per contingency (ms)" "$(val ctg_direct_mean_ms)"
row "continued: contingencies (of them converged)" "$(val ctg_followed) ($(val ctg_by_continuation))"
row "continued: mean (ms)" "$(val ctg_followed_mean_ms)"
row "continued: slowest (ms)" "$(val ctg_followed_slowest_ms)"
row "steps per contingency (chord + Newton)" "$(val ctg_mean_steps)"
row "factorizations per contingency" "$(val ctg_mean_factorizations)"
row "contingencies that needed a factorization" "$(val ctg_with_newton)"
row "contingencies per second, one core" "$(val ctg_per_s)"
row "no step taken: contingencies" "$(val ctg_no_step_count)"
row "no step taken: mean (ms)" "$(val ctg_no_step_ms)"
row "fitted: fixed cost per contingency (ms)" "$(val fit_fixed_ms)"
row "fitted: cost per step (ms)" "$(val fit_step_ms)"
row "fitted: cost per factorization (ms)" "$(val fit_factorization_ms)"
row "pmax response: mean (ms)" "$(val pmax_ctg_mean_ms)"
row "pmax response: mean CPU time (ms)" "$(val pmax_ctg_cpu_mean_ms)"
row "pmax response: CPU time / swing" "$(awk -v a="$(val pmax_ctg_cpu_mean_ms)" -v b="$(val ctg_cpu_mean_ms)" 'BEGIN { printf "%.2f", a / b }')"
row "pmax response: converged" "$(val pmax_converged)"
row "pmax response: steps per contingency" "$(val pmax_mean_steps)"
row "as vandrelsolve (tags, rows): CPU time (ms)" "$(val rows_ctg_cpu_mean_ms)"
row "monitor file: branches, interfaces" "$(val monitor_branches), $(val monitor_interfaces)"
row "monitor file, as vandrelsolve: CPU time (ms)" "$(val monitor_ctg_cpu_mean_ms)"
row "monitor file: CPU time / without" "$(awk -v a="$(val monitor_ctg_cpu_mean_ms)" -v b="$(val rows_ctg_cpu_mean_ms)" 'BEGIN { printf "%.2f", a / b }')"
row "monitor file: converged" "$(val monitor_converged)"
row "peak RSS, solver_bench (MB)" "$(val peak_rss_mb)"
row "ctgbatch, 1 rank: wall time (s, median of $runs)" "${wall[1]}"
row "ctgbatch, 2 ranks: wall time (s, median of $runs)" "${wall[2]}"
row "2 ranks / 1 rank" "$(awk "BEGIN { printf \"%.0f%%\", 100 * ${wall[2]} / ${wall[1]} }")"
row "largest solver peak RSS under ctgbatch (MB)" "$(awk "BEGIN { printf \"%.1f\", ${rss_kib[2]} / 1024 }")"
