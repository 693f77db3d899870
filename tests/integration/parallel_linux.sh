#!/usr/bin/env bash
# The Linux parallel port (ppdev) against nodes served by umockdev: the presence test and
# `vxflash --list-ports` with /dev/parport0 and /dev/parport1 present and /dev/parport2
# missing, then open, ECP mode, write and read against a port that answers.
set -u
ROOT=${VX_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
BUILD=${VX_BUILD_LINUX:-$ROOT/build/linux}
for f in "$BUILD/vxflash" "$BUILD/unit_tests"; do
    [ -x "$f" ] || { echo "skip: $f not built"; exit 77; }
done
command -v umockdev-run >/dev/null || { echo "skip: umockdev-run missing"; exit 77; }
command -v flock >/dev/null || { echo "skip: flock missing"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vxpar.XXXXXX")
trap 'rm -rf "$work"' EXIT
for n in 0 1; do
    printf 'P: /devices/platform/parport_pc.956/parport/parport%d\nN: parport%d\nE: SUBSYSTEM=parport\nE: DEVNAME=/dev/parport%d\n' \
        "$n" "$n" "$n" >"$work/parport$n.umockdev"
done
mock() { umockdev-run -d "$work/parport0.umockdev" -d "$work/parport1.umockdev" -- "$@"; }

failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}

# Port_present through the real platform layer.
if ! mock "$BUILD/unit_tests" --gtest_filter='ParallelPpdev.*' >"$work/gtest.log" 2>&1 ||
    ! grep -q '\[  PASSED  \] 1 test' "$work/gtest.log"; then
    fail "Port_present under umockdev:"
    cat "$work/gtest.log"
fi

# Open, write and read through ppdev against a port that answers every write with "OK".
if [ -x "$BUILD/ppdev_mock" ]; then
    if ! VX_PPDEV_MOCK=1 "$BUILD/ppdev_mock" "$work/ppdev.log" OK "$BUILD/unit_tests" \
        --gtest_filter='ParallelPpdev.OpenWritesAndReadsInEcpMode' >"$work/ecp.log" 2>&1 ||
        ! grep -q '\[  PASSED  \] 1 test' "$work/ecp.log"; then
        fail "open, write and read over ppdev:"
        cat "$work/ecp.log"
    fi
    want=$(printf '%s\n' claim 'negotiate 16' 'mode 16' 'write 1b7d7b' release)
    [ "$(cat "$work/ppdev.log" 2>/dev/null)" = "$want" ] ||
        fail "the port saw, in ECP mode 16:
$(cat "$work/ppdev.log" 2>/dev/null)"
else
    echo "note: ppdev_mock not built (libumockdev-dev missing); open/write/read not run"
fi

# --list-ports: one line per port with the name for PORT; LPT2 held by another program.
mock sh -c "\"$BUILD/vxflash\" --list-ports; echo --; flock -o /dev/parport1 \"$BUILD/vxflash\" --list-ports" \
    >"$work/list.out" 2>&1
want=$(printf '%s\n' \
    'LPT1           parallel  /dev/parport0                free (refused for downloads)' \
    'LPT2           parallel  /dev/parport1                free (refused for downloads)' \
    '--' \
    'LPT1           parallel  /dev/parport0                free (refused for downloads)' \
    'LPT2           parallel  /dev/parport1                busy')
# umockdev shows only its own nodes under /dev, so no serial port appears here.
[ "$(cat "$work/list.out")" = "$want" ] || fail "--list-ports printed:
$(cat "$work/list.out")"

# The machine's own serial ports: whatever is there, each line names a PORT value, a kind, a
# device and a state; a port another program locks shows as busy.
"$BUILD/vxflash" --list-ports >"$work/native.out" 2>/dev/null || fail "--list-ports failed"
if grep -vqE '^(COM[0-9]+|/dev/tty(USB|ACM)[0-9]+|USB[0-9]{2,}|LPT[1-4]|\(no port number\)) +(serial|usb|parallel) +[^ ]+ +(free|busy|no access|free \(held by the kernel printer driver\)|free \(refused for downloads\))$' \
    "$work/native.out"; then
    fail "unexpected --list-ports lines:
$(cat "$work/native.out")"
fi
free_tty=$(awk '$2 == "serial" && $4 == "free" { print $1 " " $3; exit }' "$work/native.out")
if [ -n "$free_tty" ]; then
    set -- $free_tty
    flock -o "$2" "$BUILD/vxflash" --list-ports >"$work/held.out" 2>/dev/null
    grep -qE "^$1 +serial +$2 +busy\$" "$work/held.out" || fail "$2 held, yet:
$(cat "$work/held.out")"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all parallel port checks passed"
