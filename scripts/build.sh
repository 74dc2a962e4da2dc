#!/bin/sh
# Installs what is missing, then configures and builds the given trees (CMakePresets.json):
#   scripts/build.sh [win32] [win64]        (default: both, the 32-bit one first)
# win32 builds velloran.exe and velloran-trace.exe into build/ (or $VELLORAN_BUILD_DIR);
# win64 builds velloran64.exe and velloran-trace64.exe into build64/ (or
# $VELLORAN_BUILD64_DIR), and its tests take the 32-bit fixtures from the win32 tree's
# bin folder.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD32="${VELLORAN_BUILD_DIR:-$ROOT/build}"
BUILD64="${VELLORAN_BUILD64_DIR:-$ROOT/build64}"
[ $# -gt 0 ] || set -- win32 win64
for preset; do
    case $preset in
        win32|win64) ;;
        *) echo "usage: scripts/build.sh [win32] [win64]" >&2; exit 2 ;;
    esac
done
"$ROOT/scripts/setup.sh"
for preset; do
    if [ "$preset" = win32 ]; then
        cmake -S "$ROOT" --preset win32 -B "$BUILD32" >/dev/null
        cmake --build "$BUILD32"
    else
        cmake -S "$ROOT" --preset win64 -B "$BUILD64" -DVELLORAN_FIXTURES32_DIR="$BUILD32/bin" >/dev/null
        cmake --build "$BUILD64"
    fi
done
