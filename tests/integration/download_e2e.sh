#!/usr/bin/env bash
# Whole silent runs over a pty against printer-sim, for the Linux build and the exe under
# Wine: firmware, three-step, model-6 and CG-only updates end with exit code 1, OK.txt and
# exactly the expected flash pages in the printer; replies that ask to wait or to send again
# recover. The failures are rows of fault_matrix.sh.
. "$(dirname "$0")/lib/harness.sh"
vx_require

expect_success() {  # shift, page ranges
    vx_expect_rc 1
    vx_expect_file OK.txt
    vx_expect_no_file KO.txt
    vx_expect_pages image.bin "$1" "$2"
}

# A model-3 image: FW pages 4-7, CG pages 8-11 (image page n is flash page n + 4).
model3_image() { vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed "${1:-3}"; }

for pf in $(vx_platforms); do
    vx_case "$pf-model3-fw"
    model3_image
    vx_ini FILENAME=image.bin SEND_FW=1
    vx_sim_start --model 3 --exit-after-downloads 1
    vx_flash "$pf" 60
    vx_sim_stop
    expect_success 4 "4-7"
    vx_expect_trace "[FLASH][send_thread] SEND_FW " "[FLASH][send_header] Send begin_page=4 end_page=7 !" \
        "[Cls_flash][download_com] ##### START FW DOWNLOAD ######" "[Cls_flash][download_com] END"

    vx_case "$pf-model3-cg-only"
    model3_image 5
    vx_ini FILENAME=image.bin SEND_FW=0 SEND_CG=1
    vx_sim_start --model 3 --exit-after-downloads 1
    vx_flash "$pf" 60
    vx_sim_stop
    expect_success 4 "8-11"

    vx_case "$pf-model6-fw-cg"
    vx_image --model 6 --kind fw --pages 8 --fw-end 0x1FFFF --fpga-end 0x27FFF --seed 6
    vx_ini FILENAME=image.bin SEND_FW=1 SEND_CG=1
    vx_sim_start --model 6 --exit-after-downloads 1
    vx_flash "$pf" 60
    vx_sim_stop
    expect_success 4 "4-11"
    vx_expect_trace "[FLASH][send_thread] SEND_FW + SEND_FPGA + SEND_CG "

    # Model 1, firmware + CG + keep settings: pages 0-25 with a blank tag, 32-63, then 0-1
    # again with the image's own tag. The printer announces itself after each step, so the
    # reopenings find it in download mode.
    vx_case "$pf-model1-three-step"
    vx_image --model 1 --kind fw --pages 64 --seed 1
    vx_ini FILENAME=image.bin SEND_FW=1 SEND_CG=1 KEEP_SETTINGS=1
    vx_sim_start --model 1 --exit-after-downloads 3
    vx_flash "$pf" 240
    vx_sim_stop
    expect_success 0 "0-25 32-63"
    vx_expect_trace "Step 1 : SEND_FW with tag null" "Step 2 : SEND_CG " "Step 3 : SEND_FW 1st page"
    [ "$(grep -c 'EV header' transcript.txt)" = 3 ] && grep -q '^0 2$' pages/pages.txt
    vx_check "three headers; page 0 written twice" $?

    vx_case "$pf-retry"
    model3_image
    vx_ini FILENAME=image.bin SEND_FW=1
    vx_sim_start --model 3 --fault 0:06 --exit-after-downloads 1
    vx_flash "$pf" 60
    vx_sim_stop
    expect_success 4 "4-7"
    vx_expect_trace "[FLASH][check_reply] RETRY_SEND_BANK_REPLY" "[FLASH][check_reply] BANK_OK_REPLY"
    grep -q "EV asks for bank 0 again" transcript.txt && [ "$(grep -c 'received sum=' transcript.txt)" = 2 ]
    vx_check "the bank was sent again with its check bytes" $?

    vx_case "$pf-waiting-replies"
    model3_image
    vx_ini FILENAME=image.bin SEND_FW=1
    vx_sim_start --model 3 --fault 0:00x3,03,ok --exit-after-downloads 1
    vx_flash "$pf" 60
    vx_sim_stop
    expect_success 4 "4-7"
    vx_expect_trace "STILL_WAITING_REPLY" "STILL_WAITING_REPLY" "STILL_WAITING_REPLY" \
        "BANK_PROGRAMMING_REPLY" "BANK_OK_REPLY"

    # A boot loader: the range comes from the boot header (pages 0-3, image page n = flash page n).
    vx_case "$pf-model3-boot"
    vx_image --model 3 --kind boot --pages 4 --seed 33
    vx_ini FILENAME=image.bin SEND_FW=0 SEND_BOOT=1
    vx_sim_start --model 3 --exit-after-downloads 1
    vx_flash "$pf" 60
    vx_sim_stop
    expect_success 0 "0-3"
    vx_expect_trace "[FLASH][send_thread] SEND_BOOT " \
        "[FLASH][CheckBootFile] begin_page=0 endpage=3 offsetpage=0"

    # The smallest model-6 boot loader, 0xFFD0 bytes: its last page (with the boot header and
    # the trailer) goes out whole, the missing bytes as erased flash.
    vx_case "$pf-model6-boot-partial-page"
    vx_image --model 6 --kind boot --pages 4 --seed 66
    truncate -s $((0xFFD0)) image.bin
    cp image.bin padded.bin
    head -c $((0x10000 - 0xFFD0)) /dev/zero | tr '\0' '\377' >>padded.bin
    vx_ini FILENAME=image.bin SEND_FW=0 SEND_BOOT=1
    vx_sim_start --model 6 --exit-after-downloads 1
    vx_flash "$pf" 60
    vx_sim_stop
    vx_expect_rc 1
    vx_expect_file OK.txt
    vx_expect_pages padded.bin 0 "0-3"
done

vx_finish
