#!/usr/bin/env bash
# Times one ctgbatch run on a generated contingency list and records each
# rank's peak RSS.
#
# Usage: bench/bench.sh [-n N] [-p P] [-b BUILD_DIR] [-m MPIEXEC] [-k]
#   -n  contingencies in the list (default 1000000, about 90 MB)
#   -p  MPI ranks (default 2)
#   -b  build directory holding ctgbatch (default: build/ in the repo root)
#   -m  launcher (default: $MPIEXEC, else the one the build was configured
#       with); it must come from the MPI ctgbatch was built with
#   -k  keep the temporary run directory
# Sizes are in MB = 10^6 bytes. The last line is a Markdown row:
#   | P | wall time (s) | largest rank peak RSS (MB) | RSS / list size | `cat` floor (s) |
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"
n=1000000 p=2 build="$repo/build" mpiexec=${MPIEXEC:-} keep=0
while getopts "n:p:b:m:kh" opt; do
    case $opt in
        n) n=$OPTARG ;; p) p=$OPTARG ;; b) build=$OPTARG ;; m) mpiexec=$OPTARG ;; k) keep=1 ;;
        h) sed -n "5,11p" "$0"; exit 0 ;;
        *) sed -n "5,11p" "$0" >&2; exit 2 ;;
    esac
done
bin=$(realpath "$build/ctgbatch")
[[ -x $bin ]] || { echo "no ctgbatch binary at $bin" >&2; exit 1; }
[[ -n $mpiexec ]] || mpiexec=$(sed -n 's/^MPIEXEC_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
mpiexec=${mpiexec:-mpiexec}
[[ -x /usr/bin/time ]] || { echo "needs GNU time at /usr/bin/time (Debian package: time)" >&2; exit 1; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
allow_openmpi_anywhere

run=$(mktemp -d "${TMPDIR:-/tmp}/ctgbatch-bench.XXXXXX")
if [[ $keep == 1 ]]; then echo "keeping $run"; else trap 'rm -rf "$run"' EXIT; fi
mkdir "$run/start" "$run/work_dir"
printf '#!/bin/sh\nexit 0\n' > "$run/start/vandrelsolve"
chmod +x "$run/start/vandrelsolve"
echo '{}' > "$run/start/options.json"
echo '{}' > "$run/work_dir/case.json"
echo '0, 100.00' > "$run/work_dir/case.raw"

# 90 bytes per contingency: 26 + 60 + 4, bus numbers spread over 6 digits.
con="$run/work_dir/case.con"
awk -v n="$n" 'BEGIN {
    for (i = 1; i <= n; i++)
        printf "CONTINGENCY \047CTG_%07d\047\n        OPEN BRANCH FROM BUS %06d TO BUS %06d CIRCUIT %d\nEND\n",
               i, 100000 + (i * 7919) % 900000, 100000 + (i * 104729) % 900000, i % 3 + 1
}' > "$con"
bytes=$(stat -c %s "$con")

# Warm the page cache, then time the read floor as ctgbatch will see it.
cat "$con" > /dev/null
t0=$EPOCHREALTIME; cat "$con" > /dev/null; t1=$EPOCHREALTIME
cat_s=$(calc "$t1 - $t0")

# Each rank runs under /usr/bin/time, which writes its peak RSS (KiB) to rss.R.
rss="$run/rss"
t0=$EPOCHREALTIME
(cd "$run/start" && "$mpiexec" -n "$p" sh -c \
    'exec /usr/bin/time -f %M -o "$0.${PMI_RANK:-${OMPI_COMM_WORLD_RANK:?no rank in env}}" "$1"' \
    "$rss" "$bin") > "$run/console.log" 2>&1 || { cat "$run/console.log" >&2; exit 1; }
t1=$EPOCHREALTIME
wall_s=$(calc "$t1 - $t0")

# Every rank's sub-file must exist and end with END; together they hold all N.
total=0 max_kib=0
for ((r = 0; r < p; r++)); do
    sub="$run/work_dir/case_subctg$r.con"
    if [[ ! -f $sub || $(tail -n 1 "$sub") != END ]]; then
        echo "rank $r: $sub missing or not closed by END (launcher from another MPI?)" >&2
        cat "$run/console.log" >&2
        exit 1
    fi
    total=$((total + $(grep -c CONTINGENCY "$sub" || true)))
    [[ -s $rss.$r ]] || { echo "rank $r: no peak RSS recorded" >&2; exit 1; }
    kib=$(tail -n 1 "$rss.$r")
    if ((kib > max_kib)); then max_kib=$kib; fi
done
[[ $total == "$n" ]] || { echo "sub-files hold $total contingencies, expected $n" >&2; exit 1; }

list_mb=$(calc "$bytes / 1e6")
rss_mb=$(calc "$max_kib * 1024 / 1e6")
ratio=$(calc "$rss_mb / $list_mb")
printf 'list size (MB):             %.1f\n' "$list_mb"
printf 'contingencies (N):          %d\n' "$n"
printf 'ranks (P):                  %d\n' "$p"
printf 'wall time of run (s):       %.2f\n' "$wall_s"
printf 'largest rank peak RSS (MB): %.1f\n' "$rss_mb"
printf 'RSS / list size:            %.2f\n' "$ratio"
printf '`cat` floor (s):            %.3f\n' "$cat_s"
printf '| %d | %.2f | %.1f | %.2f | %.3f |\n' "$p" "$wall_s" "$rss_mb" \
    "$ratio" "$cat_s"
