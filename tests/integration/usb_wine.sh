#!/usr/bin/env bash
# The Windows build over USB under Wine: the exe's SetupDi enumeration, "Port Number" and
# overlapped pipe code against printers served by a fake kernel-mode driver
# (tests/support/usb_wine) whose pipes lead to printer-sim's USB session over TCP. The same
# cases as usb_linux.sh: firmware (download_usb) and model-6 (download_usb_adf) downloads end
# with exit 1, OK.txt and the expected pages; stray bytes are drained before the check bytes;
# the handshake's refusal and silence; the choice of one of two printers by the port name.
# Runs in a Wine prefix of its own (lib/usb_wine.sh): the fake printers and their driver stay
# out of the prefix the other scripts share.
. "$(dirname "$0")/lib/harness.sh"
. "$(dirname "$0")/lib/usb_cases.sh"
. "$(dirname "$0")/lib/usb_wine.sh"
vx_require
if ! command -v wine >/dev/null || ! command -v x86_64-w64-mingw32-gcc >/dev/null ||
    [ ! -f "$VX_BUILD_WINDOWS/vxflash.exe" ] || [ ! -f "$USB_WINE_DRIVER" ]; then
    echo "SKIP: wine, mingw, the Windows build or its USB test driver missing"
    exit 77
fi
if [ "${VX_ONLY:-wine}" != wine ]; then
    echo "SKIP: Windows build only"
    exit 77
fi

usb_stop_all() {
    usb_sims_stop
    usb_wine_stop
}
trap 'usb_stop_all; vx_cleanup' EXIT

# The simulator listens on a free TCP port, written to its ready file for the driver.
usb_sim_listen() { echo --usb-tcp 0 --ready-file "$VX_RUN/$1.ready"; }

# usb_flash PORT [SIM1 [SIM2]]: vxflash.exe in silent mode; printer k (Port Number k) leads to
# the k-th simulator ("-" or none: to nothing, so it cannot be opened).
usb_flash() {
    local port=$1 sim ports=(0 0) k=0
    shift
    for sim in "$@"; do
        [ "$sim" != - ] && ports[k]=$(cat "$VX_RUN/$sim.ready")
        k=$((k + 1))
    done
    usb_wine_ports "${ports[@]}"
    sed -i "s|@PORT@|$port|" flash.ini
    rm -f KO.txt OK.txt FlashTrace.dbg
    local start=$(date +%s%N)
    timeout -k 5 "${VX_USB_LIMIT:-90}" wine "$VX_BUILD_WINDOWS/vxflash.exe" >run.out 2>&1
    VX_RC=$?
    VX_ELAPSED_MS=$((($(date +%s%N) - start) / 1000000))
    echo "   (wine usb: exit $VX_RC after ${VX_ELAPSED_MS} ms)"
    usb_sims_stop
}


vx_case usb-wine-setup
usb_wine_start
vx_check "fake USB printer driver running in $WINEPREFIX" $?

# Two printers are always listed, the second leading nowhere unless a case starts it: every
# USB01 case also shows that USB01 takes the one with Port Number 1.
usb_cases wine

vx_finish
