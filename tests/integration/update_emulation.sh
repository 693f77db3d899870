#!/usr/bin/env bash
# The update decision and the IBM 4722 emulation switch-off over a pty against printer-sim,
# for the Linux build and the exe under Wine. The decision: the release the printer reports
# picks the image from [CONDITIONAL_TABLE] (flashed and compared page by page), or ends the
# run with error 12, 13 or 14. The switch-off: the printer sees the opening command with RTS
# low, state queries and setting commands with RTS high, the final command, then the
# download command (the modem shim plays RTS on the pty and logs it for the simulator).
. "$(dirname "$0")/lib/harness.sh"
vx_require

# A model-3 image: FW pages 4-7 (image page n is flash page n + 4).
model3_image() { vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed "${1:-3}"; }

# flash.ini of a conditional run; FILENAME names a file that does not exist, so a run that
# flashes took its image from the table.
conditional_ini() {  # table lines...
    vx_ini FILENAME=configured.bin SEND_FW=1 CONDITIONAL_TABLE=1
    if [ $# -gt 0 ]; then
        printf '[CONDITIONAL_TABLE]\n' >>flash.ini
        printf '%s\n' "$@" >>flash.ini
    fi
}

count() { grep -c -- "$1" transcript.txt; }

expect_count() {  # what, pattern, n
    local n
    n=$(count "$2")
    [ "$n" = "$3" ]
    vx_check "$1" $? "counted $n"
}

expect_no_download() {
    vx_expect_rc 0
    vx_expect_no_file OK.txt
    expect_count "the printer never got the download command" "EV download command" 0
}

for pf in $(vx_platforms); do
    # ---- update decision ----
    vx_case "$pf-table-entry-found"
    model3_image 7
    conditional_ini "Rel104VerA01=old.bin" "Rel105VerA01=image.bin"
    vx_sim_start --model 3 --release "1.05;A01;" --exit-after-downloads 1
    vx_flash "$pf" 60
    vx_sim_stop
    vx_expect_rc 1
    vx_expect_file OK.txt
    vx_expect_no_file KO.txt
    vx_expect_pages image.bin 4 "4-7"
    vx_expect_trace "[FLASH][UpdateMustBeDone]" \
        "[FLASH][UpdateMustBeDone] Found Printer with  release fw 1.05;A01;." \
        "[FLASH][UpdateMustBeDone] The printer must be updated with fw image.bin " \
        "[FLASH][DetectPrinterModel]" "[Cls_flash][download_com] END"
    vx_expect_lines transcript.txt "EV release request; answer 02 20 31 2e 30 35 3b" \
        "EV download command" "EV download complete"
    expect_count "no closing command" "EV closing command" 0

    vx_case "$pf-table-no-entry"
    conditional_ini "Rel105VerA01=image.bin"
    vx_sim_start --model 3 --release "2.00;B01;"
    vx_flash "$pf" 60
    vx_sim_stop
    expect_no_download
    vx_expect_ko "[Error 14] No firmware found as requested. Actual VX3 firmware is Rel200VerB01"
    vx_expect_trace "The printer with fw Rel200VerB01 should not be updated ."
    vx_expect_lines transcript.txt "EV release request" "RX 1b 6c 1b 6e" "EV closing command"

    # The read of up to 100 bytes waits 100 x 500 + 500 ms for a printer that stays silent.
    vx_case "$pf-table-no-answer"
    conditional_ini "Rel105VerA01=image.bin"
    vx_sim_start --model 3 --release-silent
    vx_flash "$pf" 120
    vx_sim_stop
    expect_no_download
    vx_expect_ko "[Error 12] FW Release request failure ! "
    vx_expect_trace "[FLASH][UpdateMustBeDone] FW Release request failure."
    vx_expect_lines transcript.txt "EV release request; no answer" "EV closing command"

    vx_case "$pf-table-section-missing"
    conditional_ini
    vx_sim_start --model 3 --release "1.05;A01;"
    vx_flash "$pf" 60
    vx_sim_stop
    expect_no_download
    vx_expect_ko "[Error 13] INI Section CONDITIONAL_TABLE not present !"
    expect_count "the release was asked" "EV release request" 1
    expect_count "no closing command" "EV closing command" 0

    # A release with line ends and other control bytes: each log line stays one line, with the
    # bytes escaped, so the printer cannot write a line that looks like ours.
    vx_case "$pf-table-control-bytes"
    conditional_ini "Rel105VerA01=image.bin"
    vx_sim_start --model 3 --release-raw 02,20,31,0d,0a,4f,4b,1b,3b,41,0d,31,3b,03,04
    vx_flash "$pf" 60
    vx_sim_stop
    expect_no_download
    vx_expect_ko '[Error 14] No firmware found as requested. Actual VX3 firmware is Rel1\x0d\x0aOK\x1bVerA\x0d1'
    vx_expect_trace 'Found Printer with  release fw 1\x0d\x0aOK\x1b;A\x0d1;.' \
        'The printer with fw Rel1\x0d\x0aOK\x1bVerA\x0d1 should not be updated .'
    [ "$(grep -c . KO.txt)" = 1 ] && ! grep -aq '^OK' FlashTrace.dbg KO.txt
    vx_check "no line of the printer's own" $? "$(cat -A KO.txt)"

    vx_case "$pf-table-two-byte-answer"
    conditional_ini "RelVer=image.bin"
    vx_sim_start --model 3 --release-raw 02,03
    vx_flash "$pf" 60
    vx_sim_stop
    expect_no_download
    vx_expect_ko "[Error 12] FW Release request failure ! "
    vx_expect_lines transcript.txt "EV release request; answer 02 03" "EV closing command"

    # ---- emulation switch-off ----
    # 0xa2 with 0x40 is 0xe2: both setting commands carry e5; the flip of 0x20 gives c6.
    # 0x12 with 0x40 is 0x52: an upper digit below 10 goes out as the digit (55, then 76).
    for emu in "0b,a2 0xe5 0xc6" "0d,12 0x55 0x76"; do
        set -- $emu
        vx_case "$pf-emulation-active-${1/,/-}"
        model3_image 9
        vx_ini FILENAME=image.bin SEND_FW=1 IBM_EMULATION=1
        vx_sim_start --model 3 --emulation "$1" --exit-after-downloads 1
        vx_flash "$pf" 60
        vx_sim_stop
        vx_expect_rc 1
        vx_expect_file OK.txt
        vx_expect_pages image.bin 4 "4-7"
        vx_expect_lines transcript.txt \
            "RX 1b 5b 63 04 00 01 cc 01 01" "EV emulation opening command (RTS off)" \
            "RX 1b 5b 63 04 00 01 c5 01 01" "EV emulation state query (RTS on)" \
            "EV emulation setting command $2 (RTS on)" "EV emulation setting command $2 (RTS on)" \
            "EV emulation final command $3, emulation off (RTS off)" \
            "RX 1b 7d 7b" "EV download command" "EV download complete"
        expect_count "one state query" "EV emulation state query" 1
        expect_count "the download command was never ignored" "download command ignored" 0
        grep -q '^DTR=1$' modem.log && [ "$(grep '^RTS=' modem.log | tail -1)" = "RTS=0" ]
        vx_check "DTR raised; RTS low when the switch-off ended" $? "$(tr '\n' ' ' <modem.log)"
    done

    vx_case "$pf-emulation-absent"
    model3_image 11
    vx_ini FILENAME=image.bin SEND_FW=1 IBM_EMULATION=1
    vx_sim_start --model 3 --exit-after-downloads 1
    vx_flash "$pf" 60
    vx_sim_stop
    vx_expect_rc 1
    vx_expect_pages image.bin 4 "4-7"
    vx_expect_lines transcript.txt \
        "EV emulation command ignored, no emulation (RTS off): 1b 5b 63 04 00 01 cc 01 01" \
        "EV emulation command ignored, no emulation (RTS on): 1b 5b 63 04 00 01 c5 01 01" \
        "EV download command" "EV download complete"
    expect_count "nothing but the opening command and one state query" "EV emulation" 2

    vx_case "$pf-emulation-off"
    model3_image 13
    vx_ini FILENAME=image.bin SEND_FW=1 IBM_EMULATION=0
    vx_sim_start --model 3 --exit-after-downloads 1
    vx_flash "$pf" 60
    vx_sim_stop
    vx_expect_rc 1
    vx_expect_pages image.bin 4 "4-7"
    vx_expect_rx_before_sync "1b 7d 7b"
    expect_count "no emulation command" "EV emulation" 0
done

vx_finish
