#!/usr/bin/env bash
# Builds ctgbatch and vandrelsolve and runs them with 4 ranks on the bundled
# example (the IEEE 14-bus case) in a fresh copy of its run layout under
# build/, then shows the console (the solvers' summary lines among it), the
# sub-files, the solved base case, rank 0's results and ctgreport's summary
# of the whole run (its page, report.html, left in the run's work_dir/).
# Installs what is missing first: build tools and the solver's libraries, and
# MPICH only when no MPI is on the PATH.
# usage: scripts/run-example.sh [NPROC]
# Environment, for running programs built elsewhere (the test suite does):
#   EXAMPLE_BUILD    a build tree whose ctgbatch, solver/vandrelsolve and
#                    solver/ctgreport to run as they are: nothing is built
#                    or installed
#   EXAMPLE_MPIEXEC  the launcher for them (default: mpiexec on the PATH)
#   EXAMPLE_RUN      the run's folder, emptied first (default build/example-run)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
nproc=${1:-4}
build=${EXAMPLE_BUILD:-}
run=${EXAMPLE_RUN:-$repo/build/example-run}

if [ -n "$build" ]; then
    MPIEXEC=${EXAMPLE_MPIEXEC:-$(command -v mpiexec)}
else
    need_build_tools
    select_mpi
    mkdir -p "$repo/build"
    cmake -S "$repo" -B "$repo/build/example" -DCTGBATCH_TESTS=OFF \
        -DMPI_CXX_COMPILER="$MPI_CXX" -DMPIEXEC_EXECUTABLE="$MPIEXEC" >"$repo/build/example.configure.log" ||
        { cat "$repo/build/example.configure.log"; exit 1; }
    cmake --build "$repo/build/example" -j 2 >/dev/null
    build="$repo/build/example"
fi

# A CSV file (or standard input) as aligned columns where column(1) is there.
table() {
    if command -v column >/dev/null; then column -s, -t "$@"; else cat "$@"; fi
}
rm -rf "$run"
cp -R "$repo/example" "$run"
cp "$build/ctgbatch" "$build/solver/vandrelsolve" "$run/start/"

allow_openmpi_anywhere
echo "== $MPIEXEC -n $nproc ./ctgbatch    (in $run/start)"
(cd "$run/start" && "$MPIEXEC" -n "$nproc" ./ctgbatch)
echo
echo "== sub-files in $run/work_dir"
for f in "$run"/work_dir/case_subctg*.con; do
    printf '%s: %s contingencies, %s lines\n' "$(basename "$f")" "$(grep -c CONTINGENCY "$f" || true)" \
        "$(wc -l <"$f")"
done
echo
echo "== $(basename "$run")/work_dir/base_buses.csv (the solved base case)"
table "$run/work_dir/base_buses.csv"
echo
echo "== $(basename "$run")/work_dir/case_subctg0.results.csv (rank 0's contingencies, solve_ms, note and load_lost_mw left out)"
cut -d, -f1-15 "$run/work_dir/case_subctg0.results.csv" | table
echo
echo "== ctgreport    (in $run/start): the whole run in one report, checked complete"
status=0
(cd "$run/start" && "$build/solver/ctgreport") || status=$?
exit "$status"
