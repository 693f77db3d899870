#!/usr/bin/env bash
# The Linux build over USB: the real libusb code against printers emulated with umockdev
# (usb-mock) whose pipes lead to printer-sim's USB session. Firmware (download_usb) and model-6
# (download_usb_adf) downloads end with exit 1, OK.txt and the expected pages; stray bytes are
# drained before the check bytes; the handshake's refusal and silence; the choice of one of
# two printers by the port name.
. "$(dirname "$0")/lib/harness.sh"
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

SIM_PIDS=()
usb_sims_stop() {
    local p
    for p in "${SIM_PIDS[@]}"; do kill -TERM "$p" 2>/dev/null; done
    for p in "${SIM_PIDS[@]}"; do wait "$p" 2>/dev/null; done
    SIM_PIDS=()
}
trap 'usb_sims_stop; vx_cleanup' EXIT

# usb_sim NAME [printer-sim options]: a simulated printer serving $VX_RUN/NAME.sock; its
# transcript and pages go to NAME.txt and NAME-pages/.
usb_sim() {
    local name=$1
    shift
    "$SIM" --usb-socket "$VX_RUN/$name.sock" --ready-file "$VX_RUN/$name.ready" \
        --transcript "$VX_RUN/$name.txt" --pages-out "$VX_RUN/$name-pages" \
        --timeout "${VX_SIM_TIMEOUT:-120}" "$@" >"$VX_RUN/$name.out" 2>&1 &
    SIM_PIDS+=($!)
    local i
    for i in $(seq 100); do
        [ -s "$VX_RUN/$name.ready" ] && return 0
        sleep 0.05
    done
    echo "printer-sim $name did not start:"
    cat "$VX_RUN/$name.out"
    return 1
}

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

. "$(dirname "$0")/lib/usb_cases.sh"
usb_cases linux

vx_finish
