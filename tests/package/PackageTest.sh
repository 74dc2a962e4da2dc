#!/bin/sh
# The release as a Windows user gets it: the tree's zip (scripts/package.sh) unpacked into
# an empty folder, its files and README.txt checked, and the capture tool found there
# tracing the demo client (in the 64-bit tree the 32-bit one too) with the same rows as
# the tree's own capture tool.
#   PackageTest.sh SOURCE_DIR BUILD_DIR PRESET FIXTURES32_BIN
set -eu
ROOT=$1 TREE=$2 PRESET=$3 FIXTURES32=$4
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# The rows with the Time column blanked: times vary from run to run.
rows() { awk -F '\t' 'BEGIN { OFS = "\t" } NF >= 2 { $2 = "T" } { print }' "$1"; }

if [ "$PRESET" = win32 ]; then
    export VELLORAN_BUILD_DIR="$TREE"
    suffix=
    clients="$TREE/bin/democlient.exe"
else
    export VELLORAN_BUILD64_DIR="$TREE"
    suffix=64
    clients="$TREE/bin/democlient.exe $FIXTURES32/democlient.exe"
fi
"$ROOT/scripts/package.sh" --no-build --out "$WORK/dist" "$PRESET" >"$WORK/made"
zip=$(cat "$WORK/made")
version=$(sed -n 's/^#define VELLORAN_VERSION_TEXT "\(.*\)"$/\1/p' "$TREE/generated/VelloranVersion.h")
[ "$zip" = "$WORK/dist/velloran-$version-$PRESET.zip" ] || fail "made $zip, not velloran-$version-$PRESET.zip"

mkdir "$WORK/unpacked"
(cd "$WORK/unpacked" && unzip -q "$zip")
files=$(cd "$WORK/unpacked" && ls | LC_ALL=C sort | tr '\n' ' ')
expected=$(printf '%s\n' README.txt "velloran$suffix.exe" "velloran-trace$suffix.exe" | LC_ALL=C sort | tr '\n' ' ')
[ "$files" = "$expected" ] || fail "the zip holds $files, not $expected"
readme="$WORK/unpacked/README.txt"
[ "$(grep -c "$(printf '\r')\$" "$readme")" = "$(wc -l <"$readme")" ] || fail "README.txt has lines without CR LF"
for text in "Velloran $version for Windows, ${PRESET#win}-bit" "usage: velloran-trace$suffix [options] -- PROGRAM" \
    "start velloran$suffix.exe"; do
    grep -qF "$text" "$readme" || fail "README.txt lacks: $text"
done
if grep -q '@[A-Z]*@\|^[0-9][0-9]|' "$readme"; then fail "README.txt has a placeholder left"; fi

tool="$WORK/unpacked/velloran-trace$suffix.exe"
for client in $clients; do
    # The rows to a file: the client writes to the standard output it inherits.
    status=0
    "$TREE/wine-run.sh" "$tool" --trace prepare,execute,fetch --output "$(winpath "$WORK/out")" -- \
        "$(winpath "$client")" >/dev/null 2>"$WORK/err" || status=$?
    [ $status = 0 ] || fail "the unpacked tool exited with $status on $client: $(cat "$WORK/err")"
    "$TREE/wine-run.sh" "$TREE/bin/velloran-trace$suffix.exe" --trace prepare,execute,fetch \
        --output "$(winpath "$WORK/tree-out")" -- "$(winpath "$client")" >/dev/null 2>&1
    [ "$(head -n 1 "$WORK/out")" = "$(printf 'Start\r')" ] || fail "no Start row for $client"
    [ "$(tail -n 1 "$WORK/out")" = "$(printf 'Finish\r')" ] || fail "no Finish row for $client"
    [ "$(grep -c '^Execute' "$WORK/out")" -ge 5 ] || fail "too few Execute rows for $client"
    rows "$WORK/out" >"$WORK/out.rows"
    rows "$WORK/tree-out" >"$WORK/tree.rows"
    cmp -s "$WORK/out.rows" "$WORK/tree.rows" || fail "rows differ from the tree's tool for $client"
    echo "$client: $(wc -l <"$WORK/out") lines, as the tree's tool"
done
"$TREE/wine-run.sh" "$tool" --version >"$WORK/version"
[ "$(tr -d '\r' <"$WORK/version")" = "velloran-trace$suffix $version" ] || fail "--version: $(cat "$WORK/version")"
echo "PASS: $zip"
