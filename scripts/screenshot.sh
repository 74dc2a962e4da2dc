#!/bin/sh
# Renders the main window after a demo session under a virtual display, and each of its
# dialogs over it, and saves them as docs/screenshot-SCENE.png (main, filter, statements,
# details: the window tracing binds, errors and rows, rules, editor, attach, about, run,
# options).
# A 64-bit tree (velloran64.exe) takes the window and the attach dialog, the two that
# differ from the 32-bit build's, as docs/screenshot-SCENE-64.png, beside the 32-bit
# pictures rather than over them. Scenes named after the tree are the only ones taken.
#   scripts/screenshot.sh [BUILD_DIR [SCENE...]]   (default: build, every scene; build64 for
#                                                  the 64-bit window)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
if [ $# -gt 0 ]; then shift; fi
DOCS="$ROOT/docs"
SUFFIX=
SCENES="main filter statements details rules editor attach about run options"
if grep -q '^#define VELLORAN_BITS 64' "$BUILD/generated/VelloranBuild.h" 2>/dev/null; then
    SUFFIX=-64
    SCENES="main attach"
fi
[ $# -eq 0 ] || SCENES="$*"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

if ! cmake --build "$BUILD" --target velloran-shot >"$WORK/build.log" 2>&1; then
    cat "$WORK/build.log" >&2
    exit 1
fi

# Without a window manager Wine leaves the frame to nobody; an unmanaged window has
# Wine draw its caption and border itself, as a user sees them.
"$BUILD/wine-run.sh" reg add 'HKCU\Software\Wine\AppDefaults\velloran-shot.exe\X11 Driver' \
    /v Managed /d N /f >/dev/null 2>&1
# Wine's desktop process must belong to the virtual display below, not to this call.
WINEPREFIX="$BUILD/wineprefix" wineserver -k 2>/dev/null || true

cat >"$WORK/grab.sh" <<GRAB
set -eu
shoot() {
    rm -f "$WORK/ready" "$WORK/done"
    "$BUILD/wine-run.sh" "$BUILD/bin/velloran-shot.exe" 'Z:$WORK/ready' 'Z:$WORK/done' "\$1" &
    shot=\$!
    i=0
    while [ ! -s "$WORK/ready" ]; do
        i=\$((i + 1))
        if [ \$i -gt 1200 ] || ! kill -0 \$shot 2>/dev/null; then
            echo "screenshot: the \$1 window did not come up" >&2
            exit 1
        fi
        sleep 0.1
    done
    read left top width height <"$WORK/ready"
    # A margin of desktop around the window.
    import -window root -crop "\$((width + 24))x\$((height + 24))+\$((left - 12))+\$((top - 12))" +repage \
        "$DOCS/screenshot-\$1$SUFFIX.png"
    touch "$WORK/done"
    wait \$shot
    echo "$DOCS/screenshot-\$1$SUFFIX.png"
}
for scene in $SCENES; do
    shoot \$scene
done
GRAB
xvfb-run -a -s "-screen 0 1024x768x24" sh "$WORK/grab.sh"
WINEPREFIX="$BUILD/wineprefix" wineserver -k 2>/dev/null || true
