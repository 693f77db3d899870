#!/usr/bin/env bash
# The free-pages run (an explicit INTERNAL page range). flash.ini always turns it into an
# unattended run, whose page is not part of this build, so the procedure is driven directly
# over the pty against printer-sim (Linux build).
. "$(dirname "$0")/lib/harness.sh"
vx_require
DRIVER="$VX_BUILD_LINUX/procedure_driver"
[ -x "$DRIVER" ] || { echo "SKIP: $DRIVER not built"; exit 77; }

run_driver() {
    rm -f KO.txt OK.txt FlashTrace.dbg
    sed -i "s|@PORT@|$SIM_PTY|" flash.ini
    VX_MODEM_FILE="$VX_RUN/modem" LD_PRELOAD="$SHIM" timeout -k 5 60 "$DRIVER" >run.out 2>&1
    VX_RC=$?
    echo "   (driver: exit $VX_RC)"
}

# Model 2 images are whole flash images: pages 16-23 go from image pages 16-23.
vx_case free-model2
vx_image --model 2 --kind fw --pages 24 --seed 22
vx_ini FILENAME=image.bin BEGIN_PAGE=16 END_PAGE=23 OFFSET_PAGE=16
vx_sim_start --model 2 --exit-after-downloads 1
run_driver
vx_sim_stop
vx_expect_rc 1
vx_expect_no_file KO.txt
vx_expect_pages image.bin 0 "16-23"
vx_expect_trace "[FLASH][send_thread] SEND_FREE " "[FLASH][send_header] Send begin_page=16 end_page=23 !" \
    "[Cls_flash][download_com] END"
grep -q "procedure_driver: flash_mode=1 send_mode=0x8000" run.out
vx_check "an explicit range makes an unattended free-pages run" $?

# Model 5 takes the firmware section from the same range; image page n is flash page n + 4.
vx_case free-model5
vx_image --model 5 --kind fw --pages 12 --seed 55
vx_ini FILENAME=image.bin BEGIN_PAGE=6 END_PAGE=13 OFFSET_PAGE=2
vx_sim_start --model 5 --exit-after-downloads 1
run_driver
vx_sim_stop
vx_expect_rc 1
vx_expect_pages image.bin 4 "6-13"

# Ranges the model-2 header must not announce, refused before it is sent (Error 10): an end
# page past the image, and a begin page past 255 (the header carries its low byte only, so
# page 260 would be announced as page 4 and the printer would write the pages there).
# name | image pages | begin | end | trace line
while IFS='|' read -r name pages begin end line; do
    vx_case "$name"
    vx_image --model 2 --kind fw --pages "$pages" --seed 22
    vx_ini FILENAME=image.bin BEGIN_PAGE="$begin" END_PAGE="$end" OFFSET_PAGE="$begin"
    vx_sim_start --model 2
    run_driver
    vx_sim_stop
    vx_expect_rc 0
    vx_expect_ko "[Error 10] Init Download Error."
    vx_expect_trace "$line"
    ! grep -q "EV header" transcript.txt
    vx_check "no header sent" $?
done <<'EOF'
free-end-above-max|24|16|40|[FLASH][send_header] Invalid endpage=40  number ( Max 24 ) !
free-begin-past-header|264|260|263|[FLASH][send_header] Invalid page range begin_page=260 end_page=263: model 2 cannot address it !
EOF

vx_case free-refused-model3
vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF
vx_ini FILENAME=image.bin BEGIN_PAGE=4 END_PAGE=7
vx_sim_start --model 3
run_driver
vx_sim_stop
vx_expect_rc 0
vx_expect_trace "[FLASH][send_thread] SEND FREE PAGES Invalid operation !"
! grep -q "EV header" transcript.txt
vx_check "nothing sent after the refusal" $?

vx_finish
