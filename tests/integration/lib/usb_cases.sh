# The USB cases both builds run (usb_linux.sh, usb_wine.sh). Source it after defining
# usb_sim_listen NAME (the simulator's listening options, with --ready-file $VX_RUN/NAME.ready)
# and usb_flash PORT SIM...; then call usb_cases linux|wine.

SIM_PIDS=()
usb_sims_stop() {
    local p
    for p in "${SIM_PIDS[@]}"; do kill -TERM "$p" 2>/dev/null; done
    for p in "${SIM_PIDS[@]}"; do wait "$p" 2>/dev/null; done
    SIM_PIDS=()
}

# usb_sim NAME [printer-sim options]: a simulated printer; its transcript and pages go to
# NAME.txt and NAME-pages/.
usb_sim() {
    local name=$1
    shift
    # shellcheck disable=SC2046  # the listening options are separate words
    "$SIM" $(usb_sim_listen "$name") --transcript "$VX_RUN/$name.txt" \
        --pages-out "$VX_RUN/$name-pages" --timeout "${VX_SIM_TIMEOUT:-120}" "$@" \
        >"$VX_RUN/$name.out" 2>&1 &
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

usb_cases() {  # linux|wine
    model3_image() { vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed "${1:-3}"; }
    T=download_usb

    vx_case "usb-$1-model3-fw"
    model3_image
    vx_ini FILENAME=image.bin SEND_FW=1
    usb_sim p1 --model 3
    usb_flash USB01 p1
    expect_success p1 4 "4-7"
    expect_usb_session p1
    vx_expect_trace "[Cls_flash][$T] ##### START FW DOWNLOAD ######" "[Cls_flash][$T] Begin_Page=4 End_Page=7 !" \
        "[Cls_flash][$T] FLUSHING..." "[Cls_flash][$T] ##### CRC1 CRC2 sended ######" \
        "[Cls_flash][$T] read(n=1) SUCCESS (23)" "[Cls_flash][$T] END"

    vx_case "usb-$1-model6-adf"
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

    vx_case "usb-$1-stray-bytes"
    model3_image
    vx_ini FILENAME=image.bin SEND_FW=1
    usb_sim p1 --model 3 --usb-stray 41,00,07
    usb_flash USB01 p1
    expect_success p1 4 "4-7"
    [ "$(grep -c "download_usb\] \*\*\*\*\*\*\* FLUSHED" FlashTrace.dbg)" -ge 1 ] &&
        ! grep -q "check mismatch" p1.txt
    vx_check "stray bytes flushed before the check bytes" $?

    vx_case "usb-$1-handshake-refused"
    model3_image
    vx_ini FILENAME=image.bin SEND_FW=1
    usb_sim p1 --model 3 --usb-handshake nak
    usb_flash USB01 p1
    expect_success p1 4 "4-7"
    [ "$(grep -c "EV usb open request; answer 0x15" p1.txt)" = 5 ] && ! grep -q "usb session closed" p1.txt
    vx_check "five refused attempts; no close byte" $?

    # Reads that time out are cancelled (CancelIo on Windows); the run ends by itself.
    vx_case "usb-$1-silent-printer"
    model3_image
    vx_ini FILENAME=image.bin SEND_FW=1
    usb_sim p1 --model 3 --usb-handshake none --silent
    usb_flash USB01 p1
    vx_expect_rc 0
    vx_expect_ko "[Error 9] Printer not answering."
    grep -q "EV usb open without handshake (1b 6c)" p1.txt
    vx_check "no answer to the handshake: 1b 6c sent" $?

    # A printer that stops taking bulk-out data in the middle of a bank: the write runs into
    # its limit and is cancelled, and the run fails in bounded time. (The fake Windows driver
    # sends a write's bytes inside its dispatch routine and cannot leave one pending; a
    # Windows program gets no signals.)
    if [ "$1" = linux ]; then
        vx_case "usb-$1-stalled-pipe"
        model3_image
        vx_ini FILENAME=image.bin SEND_FW=1
        usb_sim p1 --model 3 --stall-in-bank 0:20000
        usb_flash USB01 p1
        vx_expect_rc 0
        vx_expect_ko "[Error 8] Download firmware Error."
        vx_expect_no_file OK.txt
        [ "$VX_ELAPSED_MS" -lt 30000 ] && grep -q "usb-mock: device 1: usblp attached" run.out
        vx_check "ended within 30 s, usblp attached again" $? "after $VX_ELAPSED_MS ms"

        # SIGTERM while the printer programs a bank: the failure ending, usblp given back.
        vx_case "usb-$1-sigterm"
        model3_image
        vx_ini FILENAME=image.bin SEND_FW=1
        usb_sim p1 --model 3 --program-ms 30000
        vx_signal_later 8 TERM
        usb_flash USB01 p1
        vx_signal_done
        vx_expect_rc 0
        vx_expect_ko "[Error 8] Download firmware Error."
        vx_expect_trace "[FLASH][send_thread] Stopped: signal 15 asks the process to end"
        [ "$VX_ELAPSED_MS" -lt 14000 ] && grep -q "usb-mock: device 1: usblp attached" run.out
        vx_check "ended within 6 s of the signal, usblp attached again" $? \
            "after $VX_ELAPSED_MS ms; $(grep usb-mock run.out)"

        # --list-ports names the printer without taking it from usblp, not even for a moment.
        vx_case "usb-$1-list-ports"
        usb_sim p1 --model 3
        timeout -k 5 60 umockdev-wrapper "$MOCK" --device "$VX_RUN/p1.sock" -- \
            "$VX_BUILD_LINUX/vxflash" --list-ports >run.out 2>&1
        usb_sims_stop
        grep -qE '^USB01 +usb +USB.VID_7A1E&PID_0030&REV_[0-9A-F]{4} +free \(held by the kernel printer driver\)$' run.out &&
            grep -q "usb-mock: device 1: usblp attached, taken off 0 times" run.out
        vx_check "listed as held by usblp, which keeps it" $? "$(cat run.out)"
    fi

    vx_case "usb-$1-two-printers"
    model3_image
    vx_ini FILENAME=image.bin SEND_FW=1
    usb_sim p1 --model 3
    usb_sim p2 --model 3
    usb_flash USB02 p1 p2
    expect_success p2 4 "4-7"
    ! grep -q "RX" p1.txt
    vx_check "the printer with Port Number 1 received nothing" $?
}
