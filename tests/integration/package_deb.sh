#!/usr/bin/env bash
# The Debian package as a user gets it: installed with dpkg, the installed programs run from
# /usr/bin (the version, and a preflight check of a folder made from the installed samples),
# then removed again. Needs root and the package built (scripts/test builds it first); a
# machine where vxflash is already installed is left alone.
set -u
ROOT=${VX_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
LIN=${VX_BUILD_LINUX:-$ROOT/build/linux}
deb=$(ls "$LIN"/vxflash_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "skip: no package in $LIN (cmake --build build/linux --target package)"; exit 77; }
[ "$(id -u)" -eq 0 ] || { echo "skip: installing a package needs root"; exit 77; }
if dpkg-query -W -f='${Status}' vxflash 2>/dev/null | grep -q "install ok installed"; then
    echo "skip: vxflash is installed on this machine already"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vxdeb.XXXXXX")
ports_pid=""
cleanup() {
    [ -n "$ports_pid" ] && kill "$ports_pid" 2>/dev/null
    dpkg -r vxflash >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # description, status, details
    if [ "$2" -eq 0 ]; then
        echo "PASS $1"
    else
        echo "FAIL $1"
        [ -n "${3:-}" ] && echo "$3" | head -15 | sed 's/^/     /'
        failures=$((failures + 1))
    fi
}

out=$(dpkg -i "$deb" 2>&1)
check "dpkg -i $(basename "$deb")" $? "$out"

out=$(cd / && /usr/bin/vxflash --version 2>&1)
grep -q "ProductVersion" <<<"$out"
check "/usr/bin/vxflash --version" $? "$out"

# A rollout folder from the installed samples, an image made by the installed vximage and a
# pseudo-terminal for the port.
python3 "$ROOT/tests/integration/lib/pty_ports.py" "$work/ports" port &
ports_pid=$!
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.05; done
mkdir "$work/folder" && cd "$work/folder" || exit 1
cp /usr/share/doc/vxflash/examples/flash.ini /usr/share/doc/vxflash/examples/flash.mes .
/usr/bin/vximage make --model 3 --kind fw --pages 8 --fw-end 0x1FFFF -o firmware.bin >/dev/null
sed -i "s|^PORT=.*|PORT=$(awk '{ print $2 }' "$work/ports")|" flash.ini
out=$(/usr/bin/vxflash --check 2>&1)
rc=$?
[ $rc -eq 0 ] && grep -q "a run can succeed for model 3" <<<"$out"
check "/usr/bin/vxflash --check on the installed samples (exit $rc)" $? "$out"
cd / || exit 1

out=$(dpkg -r vxflash 2>&1)
[ $? -eq 0 ] && [ ! -e /usr/bin/vxflash ] && [ ! -e /usr/lib/udev/rules.d/70-vxflash.rules ]
check "dpkg -r vxflash removes it" $? "$out"

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "package installs, runs and goes again"
