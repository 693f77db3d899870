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

expect_success() {  # sim, shift, page ranges
    vx_expect_rc 1
    vx_expect_file OK.txt
    vx_expect_no_file KO.txt
    rm -rf pages
    cp -r "$1-pages" pages 2>/dev/null
    vx_expect_pages image.bin "$2" "$3"
}

# The session was opened with the handshake and closed with the close byte.
expect_usb_session() {  # sim
    grep -q "EV usb open request; answer 0x06" "$1.txt" && grep -q "EV usb session closed" "$1.txt"
    vx_check "session opened with 02/06 and closed with 03" $?
}

model3_image() { vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed "${1:-3}"; }
T=download_usb

vx_case usb-linux-model3-fw
model3_image
vx_ini FILENAME=image.bin SEND_FW=1
usb_sim p1 --model 3
usb_flash USB01 p1
expect_success p1 4 "4-7"
expect_usb_session p1
vx_expect_trace "[Cls_flash][$T] ##### START FW DOWNLOAD ######" "[Cls_flash][$T] Begin_Page=4 End_Page=7 !" \
    "[Cls_flash][$T] FLUSHING..." "[Cls_flash][$T] ##### CRC1 CRC2 sended ######" \
    "[Cls_flash][$T] read(n=1) SUCCESS (23)" "[Cls_flash][$T] END"

vx_case usb-linux-model6-adf
vx_image --model 6 --kind fw --pages 8 --fw-end 0x1FFFF --fpga-end 0x27FFF --seed 6
vx_ini FILENAME=image.bin SEND_FW=1 SEND_CG=1
usb_sim p1 --model 6
usb_flash USB01 p1
expect_success p1 4 "4-11"
expect_usb_session p1
vx_expect_trace "[Cls_flash][download_usb_adf] ##### START FW DOWNLOAD ######" \
    "[Cls_flash][download_usb_adf] END"
# Image page 0 goes to flash page 4: nothing of the file is skipped.
! grep -q "skip first" FlashTrace.dbg
vx_check "no skip line for a transfer from the image's first page" $?

vx_case usb-linux-stray-bytes
model3_image
vx_ini FILENAME=image.bin SEND_FW=1
usb_sim p1 --model 3 --usb-stray 41,00,07
usb_flash USB01 p1
expect_success p1 4 "4-7"
[ "$(grep -c "download_usb\] \*\*\*\*\*\*\* FLUSHED" FlashTrace.dbg)" -ge 1 ] &&
    ! grep -q "check mismatch" p1.txt
vx_check "stray bytes flushed before the check bytes" $?

vx_case usb-linux-handshake-refused
model3_image
vx_ini FILENAME=image.bin SEND_FW=1
usb_sim p1 --model 3 --usb-handshake nak
usb_flash USB01 p1
expect_success p1 4 "4-7"
[ "$(grep -c "EV usb open request; answer 0x15" p1.txt)" = 5 ] && ! grep -q "usb session closed" p1.txt
vx_check "five refused attempts; no close byte" $?

vx_case usb-linux-silent-printer
model3_image
vx_ini FILENAME=image.bin SEND_FW=1
usb_sim p1 --model 3 --usb-handshake none --silent
usb_flash USB01 p1
vx_expect_rc 0
vx_expect_ko "[Error 9] Printer not answering."
grep -q "EV usb open without handshake (1b 6c)" p1.txt
vx_check "no answer to the handshake: 1b 6c sent" $?

vx_case usb-linux-two-printers
model3_image
vx_ini FILENAME=image.bin SEND_FW=1
usb_sim p1 --model 3
usb_sim p2 --model 3
usb_flash USB02 p1 p2
expect_success p2 4 "4-7"
! grep -q "RX" p1.txt
vx_check "the printer on port 1 received nothing" $?

vx_finish
