#!/usr/bin/env bash
# Builds and checks ctgbatch. With no argument it runs every stage, as CI does:
#   mpich     build against MPICH, warnings as errors, run the test suite
#             (installing Debian's chromium for the test that renders
#             ctgreport's page, as every stage that runs the suite does),
#             then the Python module's tests (pytest, Debian's python3)
#   openmpi   the same against Open MPI, for the parts MPI touches: the
#             driver's tests and the programs they run (the solver's own
#             tests do not link MPI and run in the mpich stage)
#   sanitize  the MPICH build with AddressSanitizer and UBSan, run the suite;
#             then the threaded contingency loop's tests alone under
#             ThreadSanitizer (build/tsan), where a data race fails
#   static    the include-cycle check, clang-format, clang-tidy and cppcheck
#             on the sources
#   fuzz      the libFuzzer targets of fuzz/ (clang, ASan, UBSan), each run
#             for FUZZ_SECONDS (default 60); a crash, sanitizer report, leak
#             or timeout fails it, the input kept under build/fuzz/crashes/
#   system    build against the MPI already on the PATH and run the suite
#             (installs no MPI; for machines with an MPI of their own)
# Name stages to run only those: scripts/test.sh openmpi static
# Installs what a stage needs and is missing; each stage builds in build/STAGE.
# Every stage compiles through ccache (see use_ccache) and prints the stage's
# cache hits at the end of its build.
# The tests read the public cases and real lists of $CTGBATCH_SHARED_DIR/data
# (default: ../shared beside the checkout) in place; without them those tests
# skip, except with CI=true, where missing data is an error.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

shared=${CTGBATCH_SHARED_DIR:-$repo/../shared}
for d in cases real; do
    [ -d "$shared/data/$d" ] && continue
    if [ "${CI:-}" = true ]; then
        echo "missing test data: $shared/data/$d (set CTGBATCH_SHARED_DIR to the folder holding data/)" >&2
        exit 1
    fi
    echo "warning: no test data at $shared/data/$d; the tests that need it will be skipped" >&2
done

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(mpich openmpi sanitize static fuzz)
jobs=$(nproc 2>/dev/null || echo 2)

# Every build compiles through ccache. Paths under the checkout are hashed
# relative to it (CCACHE_BASEDIR) and the build directory is left out of the
# hash of -g's debug info (CCACHE_NOHASHDIR), so the stages share the objects
# of identical compiles (the solver library of mpich and openmpi), and so does
# a clone of the repository in another folder. The test programs take the
# paths of the checkout and the build from one generated source each
# (test_paths.cpp in their build folder), the only test source compiled again
# in each stage and clone. The cache is ccache's default one unless
# CCACHE_DIR names another.
use_ccache() {
    need_packages ccache
    export CCACHE_BASEDIR=$repo CCACHE_NOHASHDIR=1
}

# The cache's hits and misses since `ccache_mark` as one line: compiles of
# other builds sharing the cache at the same time count too.
ccache_count() {
    ccache --print-stats | awk '$1 ~ /^(direct|preprocessed)_cache_hit$/ { h += $2 } $1 == "cache_miss" { m += $2 }
        END { print h + 0, m + 0 }'
}
ccache_mark() { read -r hits0 misses0 < <(ccache_count); }
ccache_line() { # stage
    local hits misses
    read -r hits misses < <(ccache_count)
    echo "=== $1: ccache: $((hits - hits0)) hits, $((misses - misses0)) misses;" \
        "$(ccache -s | sed -n 's|^ *Cache size (GB): *\([^ ]*\) */ *\([^ ]*\).*|\1 of \2 GB used|p')"
}

configure() { # stage, mpi (empty: the one on the PATH), extra cmake flags
    local stage=$1 mpi=$2
    shift 2
    need_build_tools
    # gtest, and libxml2 and libpng for reading back ctgreport's page and a
    # browser's screenshot of it.
    need_packages libgtest-dev libxml2-dev libpng-dev
    # The Python module (pybind11, Debian's python3 and its headers) and its
    # tests (pytest, pandas; matplotlib for the example study).
    need_packages python3-dev python3-pybind11 python3-pandas python3-pytest python3-matplotlib
    select_mpi "$mpi"
    cmake -S "$repo" -B "$repo/build/$stage" -DCTGBATCH_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
        -DCTGBATCH_SHARED_DIR="$(realpath -m "$shared")" \
        -DMPI_CXX_COMPILER="$MPI_CXX" -DMPIEXEC_EXECUTABLE="$MPIEXEC" -DPython3_EXECUTABLE=/usr/bin/python3 \
        "$@" >"$repo/build/$stage.configure.log" ||
        { cat "$repo/build/$stage.configure.log"; return 1; }
}

build_and_test() { # as configure; with only=driver, just the driver's tests
    echo "=== $1: build${only:+ ($only tests)}"
    configure "$@"
    ccache_mark
    if [ "${only:-}" = driver ]; then
        cmake --build "$repo/build/$1" -j "$jobs" --target ctgbatch_tests
    else
        cmake --build "$repo/build/$1" -j "$jobs"
    fi
    ccache_line "$1"
    # A headless browser renders ctgreport's page in one test (a few
    # seconds); without one that test is skipped, and under CI=true fails.
    need_packages chromium
    echo "=== $1: test"
    ctest --test-dir "$repo/build/$1" -j "$jobs" --output-on-failure ${only:+-L "$only"}
}

# The Python module's tests, on the stage's build, with the shared cases.
python_tests() { # stage
    echo "=== $1: Python module tests"
    CTGBATCH_BUILD_DIR="$repo/build/$1" CTGBATCH_SHARED_DIR="$(realpath -m "$shared")" \
        /usr/bin/python3 -m pytest -q -p no:cacheprovider "$repo/python/tests"
}

# The threaded contingency loop's tests alone (solver_thread_tests and the
# library), built with ThreadSanitizer: a race between the threads fails.
tsan_threads() {
    echo "=== sanitize: threads under ThreadSanitizer"
    configure tsan mpich -DCTGBATCH_PYTHON=OFF -DCMAKE_CXX_FLAGS="-fsanitize=thread" \
        -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread"
    ccache_mark
    cmake --build "$repo/build/tsan" -j "$jobs" --target solver_thread_tests
    ccache_line tsan
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$repo/build/tsan/solver/tests/threads/solver_thread_tests"
}

static_checks() (
    echo "=== static: include cycles, clang-format, clang-tidy, cppcheck"
    need_packages clang-format clang-tidy cppcheck
    # clang-tidy takes the compiler flags from the MPICH build's compile database.
    [ -f "$repo/build/mpich/compile_commands.json" ] || configure mpich mpich
    cd "$repo"
    # No include cycles among the modules (a header with its source).
    python3 scripts/check-includes.py solver src
    local solver_src
    solver_src=$(find solver -name '*.cpp' -not -path 'solver/tests/*' | sort)
    clang-format --dry-run --Werror src/*.cpp tests/*.cpp tests/*.h $(find solver -name '*.cpp' -o -name '*.h') \
        fuzz/*.cpp fuzz/*.h bench/*.cpp python/*.cpp
    # clang-tidy takes the MPICH build's flags, less the GCC-only ones clang
    # does not know; it counts the warnings it hid in system headers on stderr.
    mkdir -p build/tidy
    sed 's/ -fcx-limited-range//g' build/mpich/compile_commands.json >build/tidy/compile_commands.json
    # One file per core; each file's output kept whole.
    mkdir -p build/tidy/out
    rm -f build/tidy/out/*
    printf '%s\n' src/*.cpp $solver_src python/*.cpp | xargs -P "$jobs" -I{} sh -c \
        'clang-tidy --quiet -p build/tidy "$1" >"build/tidy/out/$(echo "$1" | tr / _).log" 2>&1' _ {} ||
        { cat build/tidy/out/*.log; exit 1; }
    # passedByValue: the phases take the work directory by value on purpose,
    # each call its own copy (see .clang-tidy).
    cppcheck --quiet --error-exitcode=1 --enable=warning,style,performance,portability --std=c++17 \
        --suppress=missingIncludeSystem --suppress=passedByValue:src/main.cpp -I solver src/*.cpp $solver_src python/*.cpp
    echo "static checks clean"
)

# One fuzz target for FUZZ_SECONDS; its log in build/fuzz/TARGET.log and its
# exit status in build/fuzz/TARGET.status.
fuzz_target() { # dir, target
    local dir=$1 target=$2 status=0 dict=()
    [ -f "$repo/fuzz/$target.dict" ] && dict=(-dict="$repo/fuzz/$target.dict")
    # The corpus grows from run to run; the seeds are made fresh each build.
    mkdir -p "$dir/corpus/$target"
    "$dir/fuzz/fuzz_$target" -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 -rss_limit_mb=2048 \
        -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$dir/crashes/$target-" "${dict[@]}" \
        "$dir/corpus/$target" "$dir/seeds/$target" >"$dir/$target.log" 2>&1 || status=$?
    echo "$status" >"$dir/$target.status"
}

fuzz_run() (
    echo "=== fuzz: libFuzzer, ${FUZZ_SECONDS:-60} s per target, $jobs at a time"
    need_build_tools
    need_packages clang libclang-rt-dev
    local dir="$repo/build/fuzz" target failed=() running=()
    CC=clang CXX=clang++ cmake -S "$repo" -B "$dir" -DCTGBATCH_FUZZ=ON -DCTGBATCH_WERROR=ON \
        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
        -DCTGBATCH_SHARED_DIR="$(realpath -m "${CTGBATCH_SHARED_DIR:-$repo/../shared}")" \
        >"$repo/build/fuzz.configure.log" || { cat "$repo/build/fuzz.configure.log"; exit 1; }
    ccache_mark
    cmake --build "$dir" -j "$jobs" --target fuzz_targets fuzz_seeds
    ccache_line fuzz
    mkdir -p "$dir/crashes"
    local targets=(raw ctg monitor options results)
    # libFuzzer runs on one core: one target per core.
    for target in "${targets[@]}"; do
        fuzz_target "$dir" "$target" &
        running+=($!)
        if [ ${#running[@]} -ge "$jobs" ]; then
            wait "${running[0]}"
            running=("${running[@]:1}")
        fi
    done
    wait
    for target in "${targets[@]}"; do
        echo "--- fuzz_$target"
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$dir/$target.log" | sed 's/^/  /' || true
        if [ "$(cat "$dir/$target.status")" != 0 ]; then
            grep -E '^(==[0-9]+==|SUMMARY)' "$dir/$target.log" || tail -n 30 "$dir/$target.log"
            echo "fuzz_$target FAILED; its log is $dir/$target.log; the input:"
            grep -o 'Test unit written to .*' "$dir/$target.log" | sed 's/^Test unit written to /  /' || true
            failed+=("$target")
        fi
    done
    [ ${#failed[@]} -eq 0 ] || { echo "fuzz targets failed: ${failed[*]}"; exit 1; }
    echo "fuzz targets clean"
)

mkdir -p "$repo/build"
use_ccache
for stage in "${stages[@]}"; do
    case "$stage" in
        mpich) build_and_test mpich mpich; python_tests mpich ;;
        openmpi) only=driver build_and_test openmpi openmpi ;;
        sanitize) build_and_test sanitize mpich -DCTGBATCH_SANITIZE=ON; tsan_threads ;;
        system) build_and_test system ""; python_tests system ;;
        static) static_checks ;;
        fuzz) fuzz_run ;;
        *) echo "unknown stage '$stage'; see the top of $0" >&2; exit 2 ;;
    esac
done
echo "=== all stages passed: ${stages[*]}"
