#!/bin/sh
# Packs the programs for Windows users:
#   dist/velloran-VERSION-win32.zip   velloran.exe, velloran-trace.exe, README.txt
#   dist/velloran-VERSION-win64.zip   velloran64.exe, velloran-trace64.exe, README.txt
# VERSION is what the programs report (the capture tool's --version), and README.txt
# (scripts/package-readme.txt) carries the capture tool's own --help. The 64-bit zip holds
# the 64-bit pair alone: it traces 32- and 64-bit programs, so a 64-bit Windows needs
# nothing else, and the 32-bit zip is for 32-bit Windows.
#
#   scripts/package.sh [--no-build] [--out DIR] [win32] [win64]     (default: both, dist/)
#
# The trees (build/ and build64/, or $VELLORAN_BUILD_DIR and $VELLORAN_BUILD64_DIR) are
# built first with scripts/build.sh, which also installs the zip tool; --no-build takes
# them as they are.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD32="${VELLORAN_BUILD_DIR:-$ROOT/build}"
BUILD64="${VELLORAN_BUILD64_DIR:-$ROOT/build64}"
OUT="$ROOT/dist"
BUILD=1
usage() { echo "usage: scripts/package.sh [--no-build] [--out DIR] [win32] [win64]" >&2; exit 2; }
PRESETS=
while [ $# -gt 0 ]; do
    case $1 in
        --no-build) BUILD=0 ;;
        --out) [ $# -gt 1 ] || usage; OUT=$2; shift ;;
        win32|win64) PRESETS="$PRESETS $1" ;;
        *) usage ;;
    esac
    shift
done
[ -n "$PRESETS" ] || PRESETS="win32 win64"
if [ $BUILD = 1 ]; then
    # shellcheck disable=SC2086
    "$ROOT/scripts/build.sh" $PRESETS
fi
command -v zip >/dev/null || { echo "package: zip is missing (scripts/setup.sh installs it)" >&2; exit 1; }
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

for preset in $PRESETS; do
    if [ "$preset" = win32 ]; then tree=$BUILD32 bits=32 suffix=; else tree=$BUILD64 bits=64 suffix=64; fi
    window=velloran$suffix.exe
    trace=velloran-trace$suffix.exe
    for program in "$window" "$trace"; do
        if [ ! -f "$tree/bin/$program" ]; then
            echo "package: $tree/bin/$program is missing: build the $preset tree first" >&2
            exit 1
        fi
    done
    # What the programs say of themselves. Wine's background processes start with the
    # first program and keep its streams open: that one gets none of ours, and the
    # others write to files, not to a pipe read to its end.
    "$tree/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
    "$tree/wine-run.sh" "$tree/bin/$trace" --version >"$WORK/version" 2>/dev/null
    "$tree/wine-run.sh" "$tree/bin/$trace" --help >"$WORK/usage" 2>/dev/null
    version=$(tr -d '\r' <"$WORK/version" | sed -n '1s/^[^ ]* \([0-9][0-9.]*\)$/\1/p')
    if [ -z "$version" ]; then
        echo "package: $trace --version gave no version" >&2
        exit 1
    fi

    dir="$WORK/$preset"
    mkdir -p "$dir"
    cp "$tree/bin/$window" "$tree/bin/$trace" "$dir/"
    # README.txt for Notepad: CR LF; the lines of the other bitness dropped, the usage
    # indented as the rest.
    other=$((96 - bits))
    sed -e "/^$other|/d" -e "s/^$bits|//" -e "s/@VERSION@/$version/g" -e "s/@BITS@/$bits/g" \
        -e "s/@WINDOW@/$window/g" -e "s/@TRACE@/$trace/g" "$ROOT/scripts/package-readme.txt" |
        awk -v usage="$WORK/usage" '
            $0 == "@USAGE@" { while ((getline line < usage) > 0) { sub(/\r$/, "", line); print "  " line }; next }
            { print }' |
        sed 's/$/\r/' >"$dir/README.txt"

    zipfile="$OUT/velloran-$version-$preset.zip"
    rm -f "$zipfile"
    (cd "$dir" && zip -q -X "$zipfile" "$window" "$trace" README.txt)
    echo "$zipfile"
done
