#!/usr/bin/env bash
# Builds ctgbatch and runs it with 4 ranks on the bundled example (the IEEE
# 14-bus case, solved by the stand-in solver) in a fresh copy of its run
# layout under build/, then shows the console and the sub-files.
# Installs what is missing first: build tools, and MPICH only when no MPI is
# on the PATH.
# usage: scripts/run-example.sh [NPROC]
set -euo pipefail
source "$(dirname "$0")/lib.sh"
nproc=${1:-4}

need_build_tools
select_mpi
mkdir -p "$repo/build"
cmake -S "$repo" -B "$repo/build/example" -DCTGBATCH_TESTS=OFF \
    -DMPI_CXX_COMPILER="$MPI_CXX" -DMPIEXEC_EXECUTABLE="$MPIEXEC" >"$repo/build/example.configure.log" ||
    { cat "$repo/build/example.configure.log"; exit 1; }
cmake --build "$repo/build/example" -j 2 >/dev/null

run="$repo/build/example-run"
rm -rf "$run"
cp -R "$repo/example" "$run"
cp "$repo/build/example/ctgbatch" "$repo/build/example/vandrelsolve" "$run/start/"

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
echo "== $(basename "$run")/work_dir/case_subctg0.con"
cat "$run/work_dir/case_subctg0.con"
