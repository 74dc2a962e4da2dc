#!/bin/sh
# Builds both trees and runs every test (unit, engine, window and build tests) under
# Wine, with a virtual X display for the windows: the 32-bit tree (build/) first, then the
# 64-bit one (build64/), whose tests use the 32-bit tree's fixtures too. A tree that does
# not build fails and the other is still tested. Both trees' summaries are the last thing
# printed; the exit status is non-zero if either tree fails.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD32="${VELLORAN_BUILD_DIR:-$ROOT/build}"
BUILD64="${VELLORAN_BUILD64_DIR:-$ROOT/build64}"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# run_tree NAME BUILD: runs one tree's tests in its own prefix; its ctest output goes to
# the terminal and to $WORK/NAME.log, its exit status to $WORK/NAME.status.
run_tree() {
    export WINEPREFIX="$2/wineprefix"
    # A wineserver left from an earlier run may belong to another display.
    wineserver -k 2>/dev/null || true
    # Create the prefix up front. Making it leaves a desktop process without a display, in
    # which no window of a later program can be created: end it with its wineserver.
    "$2/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
    wineserver -k 2>/dev/null || true

    # Wine's background processes and its desktop process are started by the first
    # program that needs them on the display, and they keep that program's output open
    # until the wineserver ends: a test that started them would hold ctest until its
    # timeout. So first programs run here with nothing attached: a console one, then one
    # that opens a window (one quick window test; a tree without it has no windows).
    # The wineserver is ended inside the pipe, so nothing of Wine keeps it open.
    {
        status=0
        xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
            "$1/wine-run.sh" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
            "$1/wine-run.sh" "$1/bin/window_tests.exe" --gtest_filter="AboutDlg.*" </dev/null >/dev/null 2>&1 || true
            exec ctest --test-dir "$1" --output-on-failure -j "$(nproc)"' sh "$2" </dev/null 2>&1 || status=$?
        echo $status >"$WORK/$1.status"
        wineserver -k 2>/dev/null || true
    } | tee "$WORK/$1.log"
}

for tree in win32 win64; do
    build=$BUILD32
    [ $tree = win32 ] || build=$BUILD64
    echo "=== $tree tree: $build"
    if "$ROOT/scripts/build.sh" $tree; then
        run_tree $tree "$build"
    else
        echo "the $tree tree does not build" | tee "$WORK/$tree.log"
        echo 1 >"$WORK/$tree.status"
    fi
done

# Each tree's summary: ctest's lines from "N% tests passed" on, or why there are none.
failed=0
for tree in win32 win64; do
    echo
    echo "=== $tree summary"
    if grep -q '% tests passed' "$WORK/$tree.log"; then
        sed -n '/% tests passed/,$p' "$WORK/$tree.log"
    else
        tail -n 3 "$WORK/$tree.log"
    fi
    [ "$(cat "$WORK/$tree.status" 2>/dev/null || echo 1)" = 0 ] || failed=1
done
exit $failed
