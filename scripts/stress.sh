#!/bin/sh
# Repeats the multi-thread scenarios under the tracer and counts lost and wrong rows
# against each run's ground-truth log (bench/stress/TraceStress.cpp). Not a test: the
# README's test command does not run it.
#
#   scripts/stress.sh [RUNS] [OPTIONS...]        RUNS per scenario and path, default 50
#
# OPTIONS go to trace_stress: --tool PATH (a capture tool binary instead of the engine
# in this process; it is run as TOOL --trace prepare,execute,fetch --output FILE --
# PROGRAM ...), --scenario endings,nested,fetch4,patches, --path emulated|stepped,
# --keep DIR (the files of every run that lost, got wrong or failed), --fixtures DIR,
# --hooks int3|fast|log (how the tracer hooks entry points; int3 by default),
# --timeout SEC (per run, default 180), --examples N, --quiet. Paths may be given as
# Unix paths.
#
# STRESS_TREE=win64 runs the 64-bit tree's program on its 64-bit fixtures; the default is
# the 32-bit tree. The trees are $VELLORAN_BUILD_DIR (build/) and $VELLORAN_BUILD64_DIR
# (build64/); only what the stress program needs is built.
#
# Prints one line per run, then per scenario and path the runs, calls, lost, wrong and
# failed runs, and a total line. Exit status 0 when nothing was lost or wrong and no run
# failed, 1 otherwise, 2 for a usage error.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD32="${VELLORAN_BUILD_DIR:-$ROOT/build}"
BUILD64="${VELLORAN_BUILD64_DIR:-$ROOT/build64}"

runs=50
case ${1:-} in
    ''|-*) ;;
    *[!0-9]*|0) echo "usage: scripts/stress.sh [RUNS] [OPTIONS...]" >&2; exit 2 ;;
    *) runs=$1; shift ;;
esac

"$ROOT/scripts/setup.sh" >/dev/null
case ${STRESS_TREE:-win32} in
    win32)
        build=$BUILD32
        cmake -S "$ROOT" --preset win32 -B "$BUILD32" >/dev/null ;;
    win64)
        build=$BUILD64
        cmake -S "$ROOT" --preset win64 -B "$BUILD64" -DVELLORAN_FIXTURES32_DIR="$BUILD32/bin" >/dev/null ;;
    *) echo "STRESS_TREE is win32 or win64" >&2; exit 2 ;;
esac
cmake --build "$build" --target trace_stress >/dev/null

# Unix paths of the options that take one, as the Windows program sees them.
windows_path() {
    case $1 in
        /*) printf 'Z:%s' "$(realpath -m "$1")" | tr / '\\' ;;
        *) printf '%s' "$1" ;;
    esac
}
n=$#
while [ $n -gt 0 ]; do
    arg=$1
    shift
    n=$((n - 1))
    case $arg in
        --tool|--keep|--fixtures)
            [ $n -gt 0 ] || { echo "$arg needs a value" >&2; exit 2; }
            [ "$arg" != --keep ] || mkdir -p "$1"
            value=$(windows_path "$1")
            shift
            n=$((n - 1))
            set -- "$@" "$arg" "$value" ;;
        *) set -- "$@" "$arg" ;;
    esac
done

exec "$build/wine-run.sh" "$build/bin/trace_stress.exe" --runs "$runs" "$@"
