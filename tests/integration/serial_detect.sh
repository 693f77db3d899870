#!/usr/bin/env bash
# Model detection over a pty against printer-sim, for the Linux build and the exe under Wine:
# every model with and without forced sync, stray input, DSR off, a wrong sync character and
# a silent printer. The image is missing on purpose, so each run ends right after detection.
. "$(dirname "$0")/lib/harness.sh"
vx_require

SYNC=(0 05 16 17 18 1a 20)
NORMAL=(- VX3E_MODE VX3PLUS_MODEL VX3PLUS_CR_MODEL VX3PLUS_SC_MODEL KD5_ADF_MODEL_L1 KD5_ADF_MODEL)
FORCED=(- VX3E_MODE VX3PLUS_MODEL VX3PLUS_CR_MODEL VX3PLUS_SC_MODEL KD5_ADF_L1_MODEL KD5_ADF_L2_MODEL)

# After detection the procedure checks the (missing) image and stops there.
expect_image_missing() {
    vx_expect_rc 0
    vx_expect_ko "[Error 6] Cannot open firmware file = missing.bin ." "[Error 7] Invalid firmware file format."
    vx_expect_no_file OK.txt
}

for pf in $(vx_platforms); do
    for m in 1 2 3 4 5 6; do
        vx_case "$pf-model$m-normal"
        vx_ini FILENAME=missing.bin SEND_FW=1
        vx_sim_start --model "$m"
        vx_flash "$pf" 40
        vx_sim_stop
        vx_expect_trace "[FLASH][DetectPrinterModel] FLASH NOT FORCED_SYNC PROCEDURE." \
            "[Cls_flash][DetectPrinterModel] Cmd ESC {} sent " \
            "[Cls_flash][DetectPrinterModel] received 1 bytes." \
            "[Cls_flash][DetectPrinterModel] RECEIVED SYNC_REPLY_CODE = 0x${SYNC[$m]#0} " \
            "[FLASH][DetectPrinterModel] \$\$\$\$ ${NORMAL[$m]} detected \$\$\$\$"
        vx_expect_rx_before_sync "1b 7d 7b"
        expect_image_missing

        vx_case "$pf-model$m-forced"
        vx_ini FILENAME=missing.bin SEND_FW=1
        vx_sim_start --model "$m" --forced-sync=100
        vx_flash "$pf" 40
        vx_sim_stop
        vx_expect_trace "[FLASH][DetectPrinterModel] received 1 bytes." \
            "[FLASH][DetectPrinterModel] FLASH FORCED_SYNC PROCEDURE - SYNC_CHAR = 0x${SYNC[$m]#0} " \
            "[FLASH][DetectPrinterModel] \$\$\$\$ ${FORCED[$m]} detected \$\$\$\$"
        vx_expect_rx_before_sync ""
        expect_image_missing
    done

    # Bytes waiting on the line before the program starts are purged, not taken for a model.
    vx_case "$pf-stray"
    vx_ini FILENAME=missing.bin SEND_FW=1
    vx_sim_start --model 3 --stray 20,00,41
    sleep 0.3
    vx_flash "$pf" 40
    vx_sim_stop
    vx_expect_trace "FLASH NOT FORCED_SYNC PROCEDURE." "\$\$\$\$ VX3PLUS_CR_MODEL detected \$\$\$\$"
    expect_image_missing

    vx_case "$pf-dsr-off"
    vx_ini FILENAME=missing.bin SEND_FW=1
    vx_sim_start --model 3 --dsr off
    vx_flash "$pf" 40
    vx_sim_stop
    port=$SIM_PTY
    [ "$pf" = wine ] && port=$VX_WINE_COM
    vx_expect_rc 0
    vx_expect_ko "[Error 5] Printer OFF. - portname $port" "[Error 3] Error opening printer port."
    vx_expect_trace "[FLASH][open_com] Printer connected to $port OFF DSR=0 "
    vx_expect_no_file OK.txt

    vx_case "$pf-wrong-sync"
    vx_ini FILENAME=missing.bin SEND_FW=1
    vx_sim_start --model 3 --sync-char 06
    vx_flash "$pf" 40
    vx_sim_stop
    vx_expect_rc 0
    vx_expect_trace "RECEIVED SYNC_REPLY_CODE = 0x6 " "[FLASH][DetectPrinterModel] Incorrect SYNC CHAR ! !" \
        "[FLASH][send_thread]CheckPrinterModel Error !"
    vx_expect_no_file OK.txt

    vx_case "$pf-silent"
    vx_ini FILENAME=missing.bin SEND_FW=1
    vx_sim_start --model 3 --silent
    vx_flash "$pf" 60
    vx_sim_stop
    vx_expect_rc 0
    vx_expect_ko "[Error 9] Printer not answering."
    vx_expect_trace "[FLASH][DetectPrinterModel] SYNC_CHAR not received !"
    [ "$VX_ELAPSED_MS" -ge 9500 ]
    vx_check "the program waited the whole read time-out (${VX_ELAPSED_MS} ms)" $?
done

vx_finish
