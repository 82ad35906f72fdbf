# Shared helpers for the scripts in this folder; source it, do not run it.

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Runs a command as root: directly when we are root, else through sudo.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs those of the given Debian packages that are not installed yet;
# does nothing, and needs no root, when all of them are there.
apt_updated=
need_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing ${missing[*]}"
    if [ -z "$apt_updated" ]; then
        as_root apt-get update -qq
        apt_updated=1
    fi
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

need_build_tools() {
    command -v g++ >/dev/null && command -v cmake >/dev/null && command -v make >/dev/null ||
        need_packages g++ cmake make
    # The solver's libraries: Eigen (sparse matrices), SuiteSparse KLU (sparse
    # LU), nlohmann-json (JSON).
    need_packages libeigen3-dev libsuitesparse-dev nlohmann-json3-dev
}

# Picks the MPI to build and launch with, as MPI_CXX and MPIEXEC. With an
# argument (mpich or openmpi) it is that Debian implementation, installed if
# missing. Without one it is the MPI already on the PATH, launcher matched to
# compiler where Debian's alternatives mix them; only when there is no MPI at
# all is MPICH installed.
select_mpi() {
    local impl=${1:-}
    if [ -z "$impl" ]; then
        if command -v mpicxx >/dev/null && command -v mpiexec >/dev/null; then
            MPI_CXX=$(command -v mpicxx)
            MPIEXEC=$(command -v mpiexec)
            case "$(readlink -f "$MPI_CXX")" in
                *openmpi* | */opal_wrapper) [ -x /usr/bin/mpiexec.openmpi ] && MPIEXEC=/usr/bin/mpiexec.openmpi ;;
                *mpich*) [ -x /usr/bin/mpiexec.mpich ] && MPIEXEC=/usr/bin/mpiexec.mpich ;;
            esac
            return 0
        fi
        impl=mpich
    fi
    case "$impl" in
        mpich) need_packages mpich libmpich-dev ;;
        openmpi) need_packages openmpi-bin libopenmpi-dev ;;
        *) echo "unknown MPI '$impl' (mpich or openmpi)" >&2; return 2 ;;
    esac
    MPI_CXX=/usr/bin/mpicxx.$impl
    MPIEXEC=/usr/bin/mpiexec.$impl
}

# Open MPI's launcher refuses root and more ranks than cores unless told, and
# fails without ssh or rsh even when every rank is local; MPICH ignores these.
allow_openmpi_anywhere() {
    export OMPI_MCA_rmaps_base_oversubscribe=1
    command -v ssh >/dev/null || command -v rsh >/dev/null || export OMPI_MCA_plm_rsh_agent=
    if [ "$(id -u)" -eq 0 ]; then
        export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
    fi
}
