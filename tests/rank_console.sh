#!/bin/sh
# Runs one rank's command with its standard output and error in files of its
# own, DIR/RANK.out and DIR/RANK.err, named by the rank variable the launcher
# sets (MPICH's Hydra: PMI_RANK; Open MPI: OMPI_COMM_WORLD_RANK).
# usage: rank_console.sh DIR COMMAND [ARG...]
rank=${PMI_RANK:-${OMPI_COMM_WORLD_RANK:-${PMIX_RANK:-}}}
if [ -z "$rank" ]; then
    echo "rank_console.sh: the launcher set no rank variable" >&2
    exit 99
fi
dir=$1
shift
exec "$@" >"$dir/$rank.out" 2>"$dir/$rank.err"
