#!/bin/sh
# Installs everything the build, the tests and the demo need on a Debian machine.
# Idempotent: when every package is already there it only checks and returns.
set -eu

# Both cross compilers (32- and 64-bit programs); Wine's 32- and 64-bit loaders (the tests'
# prefixes are 64-bit Windows, which runs both); the virtual display; CMake 3.21 or later
# (presets), Ninja and GoogleTest's sources; imagemagick and x11-apps for screenshots; zip
# and unzip for the release (scripts/package.sh) and its test; nlohmann-json's headers for
# the trace files.
PACKAGES="g++-mingw-w64-i686-posix mingw-w64-i686-dev g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev \
wine wine32:i386 wine64 fonts-wine xvfb xauth \
cmake ninja-build googletest nlohmann-json3-dev imagemagick x11-apps zip unzip"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    if ! dpkg --print-foreign-architectures | grep -q i386; then
        $SUDO dpkg --add-architecture i386
    fi
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
fi

# The real-driver test's npm packages (node.exe for Windows, oracledb), pinned by
# tests/realdriver/package-lock.json; nothing to do once they are there. Without them
# (no network) everything else still builds; that test then fails and says why.
if ! "$(dirname "$0")/setup-node.sh"; then
    echo "setup: the real-driver test's npm packages could not be installed (scripts/setup-node.sh)" >&2
fi
