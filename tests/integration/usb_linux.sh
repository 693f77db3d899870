#!/usr/bin/env bash
# The Linux build over USB: the real libusb code against printers emulated with umockdev
# (usb-mock) whose pipes lead to printer-sim's USB session. Firmware (download_usb) and model-6
# (download_usb_adf) downloads end with exit 1, OK.txt and the expected pages; stray bytes are
# drained before the check bytes; the handshake's refusal and silence; the choice of one of
# two printers by the port name.
. "$(dirname "$0")/lib/harness.sh"
. "$(dirname "$0")/lib/usb_cases.sh"
vx_require
MOCK="$VX_BUILD_LINUX/usb-mock"
if [ ! -x "$MOCK" ] || ! command -v umockdev-wrapper >/dev/null || [ ! -x "$VX_BUILD_LINUX/vxflash" ]; then
    echo "SKIP: usb-mock, umockdev-wrapper or the Linux build missing"
    exit 77
fi
if [ "${VX_ONLY:-linux}" != linux ]; then
    echo "SKIP: Linux build only"
    exit 77
fi

trap 'usb_sims_stop; vx_cleanup' EXIT

# The simulator serves $VX_RUN/NAME.sock, where the emulated device's pipes lead.
usb_sim_listen() { echo --usb-socket "$VX_RUN/$1.sock" --ready-file "$VX_RUN/$1.ready"; }

# usb_flash PORT SIM... : vxflash in silent mode with the printers emulated in that order.
usb_flash() {
    local port=$1 devices=() s
    shift
    for s in "$@"; do devices+=(--device "$VX_RUN/$s.sock"); done
    sed -i "s|@PORT@|$port|" flash.ini
    rm -f KO.txt OK.txt FlashTrace.dbg
    local start=$(date +%s%N)
    timeout -k 5 "${VX_USB_LIMIT:-90}" umockdev-wrapper "$MOCK" "${devices[@]}" -- \
        "$VX_BUILD_LINUX/vxflash" >run.out 2>&1
    VX_RC=$?
    VX_ELAPSED_MS=$((($(date +%s%N) - start) / 1000000))
    echo "   (linux usb: exit $VX_RC after ${VX_ELAPSED_MS} ms)"
    usb_sims_stop
}

usb_cases linux

vx_finish
