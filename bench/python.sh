#!/usr/bin/env bash
# Times the Python module's run_contingencies on a case's whole list with 1
# and 2 threads, against vandrelsolve on the same list, and prints one
# table: wall and CPU time (the medians of RUNS), wall milliseconds per
# contingency, and each wall time over one thread's. On a machine others
# are using, CPU time shows the threads' overhead where wall time can not.
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
        h) sed -n "8,12p" "$0"; exit 0 ;;
        *) sed -n "8,12p" "$0" >&2; exit 2 ;;
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
import resource, statistics, subprocess, sys, time
import ctgbatch

case, program, run, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
net = ctgbatch.read_raw(case + "/case.raw")
base = ctgbatch.solve_base(net)
count = open(case + "/case.con").read().count("CONTINGENCY")

def cpu():
    own, children = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime

# The medians of f's wall time and CPU time (this process's threads and its
# children's).
def timed(f):
    walls, cpus = [], []
    for _ in range(runs):
        t, c = time.perf_counter(), cpu()
        f()
        walls.append(time.perf_counter() - t)
        cpus.append(cpu() - c)
    return statistics.median(walls), statistics.median(cpus)

def vandrelsolve(run_type):
    subprocess.run([program, case + "/case.con", run + "/case.json", case + "/case.raw", run, "1", "1", "1", run_type,
                    run + "/options.json", run], check=True, capture_output=True)

# vandrelsolve's contingencies: its run less its base-case-only run (read,
# build, solve, base files).
whole, base_only = timed(lambda: vandrelsolve("2")), timed(lambda: vandrelsolve("1"))
rows = [("vandrelsolve (contingencies only)", whole[0] - base_only[0], whole[1] - base_only[1])]
for threads in (1, 2):
    wall, cpu_s = timed(lambda: ctgbatch.run_contingencies(base, case + "/case.con", threads=threads))
    rows.append(("run_contingencies threads={}".format(threads), wall, cpu_s))
one = rows[1][1]
with open("/proc/loadavg") as f:
    load = f.read().split()[0]
print("{} contingencies of {}, median of {} runs; load average before: {}".format(count, case, runs, load))
print("{:<36} {:>8} {:>8} {:>14} {:>12}".format("run", "wall s", "CPU s", "ms/contingency", "of threads=1"))
for name, wall, cpu_s in rows:
    print("{:<36} {:>8.2f} {:>8.2f} {:>14.3f} {:>11.0f}%".format(name, wall, cpu_s, 1000 * wall / count,
                                                                100 * wall / one))
PY
