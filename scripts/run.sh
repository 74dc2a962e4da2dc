#!/bin/sh
# The main job. With a display: opens the Velloran window, in which Run traces any
# program (build/bin/democlient.exe is the demo). Without one: traces the demo client
# with the capture tool and prints the trace.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="${VELLORAN_BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/build.sh" win32 >/dev/null
export WINEPREFIX="$BUILD/wineprefix"
"$BUILD/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
if [ -n "${DISPLAY:-}" ] && [ -x "$BUILD/bin/velloran.exe" ]; then
    exec "$BUILD/wine-run.sh" "$BUILD/bin/velloran.exe"
fi
exec "$BUILD/wine-run.sh" "$BUILD/bin/velloran-trace.exe" --trace prepare,execute,fetch -- democlient.exe
