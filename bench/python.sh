#!/usr/bin/env bash
# Times the Python module's run_contingencies on a case's whole list with 1
# and 2 threads, against vandrelsolve on the same list, and prints one
# table: wall time (the median of RUNS), milliseconds per contingency, and
# each time over one thread's.
#
# Usage: bench/python.sh [-c CASE] [-b BUILD_DIR] [-n RUNS]
#   -c  a case folder of the shared data (default: activsg2000), or a path
#       to a folder holding case.raw and case.con
#   -b  a configured build directory with the module (default build/dev)
#   -n  runs per row to take the median of (default 3)
# The case files are used in place; vandrelsolve writes into a temporary
# folder.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"
case_name=activsg2000 build="$repo/build/dev" runs=3
while getopts "c:b:n:h" opt; do
    case $opt in
        c) case_name=$OPTARG ;; b) build=$OPTARG ;; n) runs=$OPTARG ;;
        h) sed -n "7,11p" "$0"; exit 0 ;;
        *) sed -n "7,11p" "$0" >&2; exit 2 ;;
    esac
done
shared=${CTGBATCH_SHARED_DIR:-$repo/../shared}
case_dir=$case_name
[[ -d $case_dir ]] || case_dir="$shared/data/cases/$case_name"
case_dir=$(realpath "$case_dir")
build=$(realpath "$build")
[[ -f $case_dir/case.raw && -f $case_dir/case.con ]] ||
    { echo "no case.raw and case.con in $case_dir (set CTGBATCH_SHARED_DIR?)" >&2; exit 1; }
cmake --build "$build" -j 2 --target vandrelsolve ctgbatch_python >/dev/null
python=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")

run=$(mktemp -d "${TMPDIR:-/tmp}/ctgbatch-python-bench.XXXXXX")
trap 'rm -rf "$run"' EXIT
echo '{}' >"$run/case.json"
echo '{}' >"$run/options.json"

PYTHONPATH="$build/python" "$python" - "$case_dir" "$build/solver/vandrelsolve" "$run" "$runs" <<'PY'
import statistics, subprocess, sys, time
import ctgbatch

case, program, run, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
net = ctgbatch.read_raw(case + "/case.raw")
base = ctgbatch.solve_base(net)
count = open(case + "/case.con").read().count("CONTINGENCY")

def timed(f):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return statistics.median(times)

def command_line():
    subprocess.run([program, case + "/case.con", run + "/case.json", case + "/case.raw", run, "1", "1", "1", "2",
                    run + "/options.json", run], check=True, capture_output=True)

# vandrelsolve's time less its base case (read, build, solve, base files).
def base_only():
    subprocess.run([program, case + "/case.con", run + "/case.json", case + "/case.raw", run, "1", "1", "1", "1",
                    run + "/options.json", run], check=True, capture_output=True)

cli = timed(command_line) - timed(base_only)
rows = [("vandrelsolve (contingencies only)", cli)]
for threads in (1, 2):
    rows.append(("run_contingencies threads={}".format(threads),
                 timed(lambda: ctgbatch.run_contingencies(base, case + "/case.con", threads=threads))))
one = rows[1][1]
print("{} contingencies of {}, median of {} runs".format(count, case, runs))
print("{:<36} {:>8} {:>14} {:>12}".format("run", "wall s", "ms/contingency", "of threads=1"))
for name, t in rows:
    print("{:<36} {:>8.2f} {:>14.3f} {:>11.0f}%".format(name, t, 1000 * t / count, 100 * t / one))
PY
