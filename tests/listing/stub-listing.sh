#!/bin/sh
# The stub listings: the code of the fast hooks' stubs and page header, as the emitters
# make it (stub_listing.exe, run under the tree's Wine), disassembled with the cross
# toolchain's objdump and compared with the listings kept beside this script (x86.lst,
# x64.lst). A wrong byte under a right comment in the emitters shows up here.
#
#   stub-listing.sh [--update] BUILD_DIR
#
# When the stubs change on purpose, write the listings anew and read the difference
# before committing it:
#   cmake --build build --target update_stub_listings
# (which runs this script with --update on the 32-bit tree).
set -eu
update=0
if [ "${1:-}" = --update ]; then
    update=1
    shift
fi
[ $# -eq 1 ] || { echo "usage: stub-listing.sh [--update] BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && "$build/wine-run.sh" "$build/bin/stub_listing.exe" >/dev/null 2>&1 </dev/null) || {
    echo "stub_listing.exe failed" >&2
    exit 1
}
[ -s "$work/manifest.txt" ] || { echo "stub_listing.exe wrote no manifest" >&2; exit 1; }

while read -r machine kind address file title; do
    case $machine in
        x86) objdump=i686-w64-mingw32-objdump; arch=i386 ;;
        x64) objdump=x86_64-w64-mingw32-objdump; arch=i386:x86-64 ;;
        *) echo "unknown machine $machine" >&2; exit 1 ;;
    esac
    {
        echo "== $title"
        if [ "$kind" = code ]; then
            # Instruction lines only: address, bytes, mnemonic (objdump's own header names
            # the file, which lives in a temporary folder).
            # Runs of int3 (the padding between the parts of a slot) are one line each.
            "$objdump" -D -z -b binary -m "$arch" -M intel --adjust-vma="$address" "$work/$file" |
                sed -n 's/^ *\([0-9a-f][0-9a-f]*:\)/\1/p' |
                awk -F '\t' '
                    function flush() { if (n) printf "%s\tcc x %d\tint3 (padding)\n", first, n; n = 0 }
                    $2 ~ /^cc *$/ && $3 == "int3" { if (!n) first = $1; n++; next }
                    { flush(); print }
                    END { flush() }'
        else
            od -A x -t x1 -v "$work/$file"
        fi
    } >>"$work/$machine.lst"
done <"$work/manifest.txt"

status=0
for machine in x86 x64; do
    if [ $update = 1 ]; then
        cp "$work/$machine.lst" "$here/$machine.lst"
        echo "wrote $here/$machine.lst"
    elif ! diff -u "$here/$machine.lst" "$work/$machine.lst"; then
        echo "the $machine stub code differs from tests/listing/$machine.lst (see the script's header)" >&2
        status=1
    fi
done
exit $status
