#!/bin/sh
# Builds everything and runs every test (unit, engine and window tests) under Wine,
# with a virtual X display for the windows. ctest's summary is the last thing printed.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="${VELLORAN_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/build.sh"

export WINEPREFIX="$BUILD/wineprefix"
# A wineserver left from an earlier run may belong to another display.
wineserver -k 2>/dev/null || true
# Create the prefix up front, its background processes attached to nothing.
"$BUILD/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true

status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)" </dev/null || status=$?
wineserver -k 2>/dev/null || true
exit $status
