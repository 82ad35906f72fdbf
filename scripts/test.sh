#!/usr/bin/env bash
# Builds and checks ctgbatch. With no argument it runs every stage, as CI does:
#   mpich     build against MPICH, warnings as errors, run the test suite
#   openmpi   the same against Open MPI
#   sanitize  the MPICH build with AddressSanitizer and UBSan, run the suite
#   static    clang-format, clang-tidy and cppcheck on the sources
#   system    build against the MPI already on the PATH and run the suite
#             (installs no MPI; for machines with an MPI of their own)
# Name stages to run only those: scripts/test.sh openmpi static
# Installs what a stage needs and is missing; each stage builds in build/STAGE.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(mpich openmpi sanitize static)
jobs=$(nproc 2>/dev/null || echo 2)

build_and_test() { # stage, mpi (empty: the one on the PATH), extra cmake flags
    local stage=$1 mpi=$2
    shift 2
    echo "=== $stage: build"
    need_build_tools
    need_packages libgtest-dev
    select_mpi "$mpi"
    cmake -S "$repo" -B "$repo/build/$stage" -DCTGBATCH_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
        -DMPI_CXX_COMPILER="$MPI_CXX" -DMPIEXEC_EXECUTABLE="$MPIEXEC" "$@" >"$repo/build/$stage.configure.log" ||
        { cat "$repo/build/$stage.configure.log"; return 1; }
    cmake --build "$repo/build/$stage" -j "$jobs"
    echo "=== $stage: test"
    ctest --test-dir "$repo/build/$stage" -j "$jobs" --output-on-failure
}

static_checks() {
    echo "=== static: clang-format, clang-tidy, cppcheck"
    need_packages clang-format clang-tidy cppcheck
    [ -f "$repo/build/mpich/compile_commands.json" ] || build_and_test mpich mpich >/dev/null
    local sources=("$repo"/src/*.cpp) formatted=("$repo"/src/*.cpp "$repo"/tests/*.cpp "$repo"/tests/*.h)
    clang-format --dry-run --Werror "${formatted[@]}"
    clang-tidy --quiet -p "$repo/build/mpich" "${sources[@]}"
    # passedByValue: the phases take the work directory by value on purpose,
    # each call its own copy (see .clang-tidy).
    (cd "$repo" && cppcheck --quiet --error-exitcode=1 --enable=warning,style,performance,portability \
        --std=c++17 --suppress=missingIncludeSystem --suppress=passedByValue:src/main.cpp src/*.cpp)
    echo "static checks clean"
}

mkdir -p "$repo/build"
for stage in "${stages[@]}"; do
    case "$stage" in
        mpich | openmpi) build_and_test "$stage" "$stage" ;;
        sanitize) build_and_test sanitize mpich -DCTGBATCH_SANITIZE=ON ;;
        system) build_and_test system "" ;;
        static) static_checks ;;
        *) echo "unknown stage '$stage'; see the top of $0" >&2; exit 2 ;;
    esac
done
echo "=== all stages passed: ${stages[*]}"
