#!/usr/bin/env bash
# The Linux console front-end over a pty against printer-sim: unattended runs show their
# progress as plain lines when the output is a file, and interactive runs redraw one live line
# that fits an 80-column terminal and start on Enter. Exit codes as on Windows: unattended 0
# after success and 1 after failure, interactive 1; 2 for an unknown option.
. "$(dirname "$0")/lib/harness.sh"
vx_require
if [ "${VX_ONLY:-}" = wine ]; then
    echo "SKIP: Linux console only"
    exit 77
fi

console_run() {  # limit, command...  (output in run.out)
    local limit=$1
    shift
    rm -f KO.txt OK.txt FlashTrace.dbg run.done
    sed -i "s|@PORT@|$SIM_PTY|" flash.ini
    VX_MODEM_FILE="$VX_RUN/modem" VX_MODEM_LOG="$VX_RUN/modem.log" LD_PRELOAD="$SHIM" \
        timeout -k 5 "$limit" "$@" >run.out 2>&1
    VX_RC=$?
    touch run.done
    sed -i "s|^PORT=$SIM_PTY\$|PORT=@PORT@|" flash.ini
    echo "   (exit $VX_RC)"
}

# The front-end's options, in a folder set up for a silent run with the printer listening:
# they read, write and send nothing, and an unknown one (a typo) is refused with the usage.
folder_state() { (cd folder && ls -l --time-style=+%s.%N && sha256sum ./*); }
while read -r opt want_rc out_file want; do
    vx_case "option$opt"
    mkdir folder && cd folder || exit 1
    cp ../flash.mes .
    vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed 3
    vx_ini FILENAME=image.bin SEND_FW=1 FLASHMODE=2
    echo old >KO.txt
    echo old >OK.txt
    cd .. || exit 1
    vx_sim_start --model 3
    sed -i "s|@PORT@|$SIM_PTY|" folder/flash.ini
    before=$(folder_state)
    (cd folder && VX_MODEM_FILE="$VX_RUN/modem" LD_PRELOAD="$SHIM" \
        timeout 20 "$VX_BUILD_LINUX/vxflash" "$opt" </dev/null >../run.out 2>../run.err)
    VX_RC=$?
    vx_sim_stop
    vx_expect_rc "$want_rc"
    [ "$(folder_state)" = "$before" ]
    vx_check "the folder is unchanged" $?
    [ -f transcript.txt ] && ! grep -q ' RX ' transcript.txt
    vx_check "nothing sent" $?
    grep -qF "$want" "$out_file"
    vx_check "$out_file has: $want" $?
    if [ "$want_rc" = 2 ]; then
        [ ! -s run.out ] && grep -qF "unknown option $opt" run.err
        vx_check "the refusal and the usage on stderr only" $?
    fi
done <<'EOF'
--help 0 run.out Usage: vxflash
--version 0 run.out ProductVersion 6, 0, 0, 5    SpecialBuild x86 001
--chekc 2 run.err Usage: vxflash
EOF

vx_case "unattended-plain-output"
vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed 3
vx_ini FILENAME=image.bin SEND_FW=1 FLASHMODE=1
vx_sim_start --model 3 --exit-after-downloads 1
console_run 90 "$VX_BUILD_LINUX/vxflash" </dev/null
vx_sim_stop
vx_expect_rc 0
vx_expect_file OK.txt
vx_expect_pages image.bin 4 "4-7"
grep -q "^Connection " run.out && grep -qE '\] 100%  64\.0 KiB of 64\.0 KiB' run.out
vx_check "status lines and a final progress line" $?
! grep -q $'\033' run.out && ! grep -q $'\r' run.out
vx_check "no terminal escapes in a file" $?

vx_case "unattended-failure"
vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed 3
vx_ini FILENAME=image.bin SEND_FW=1 FLASHMODE=1
vx_sim_start --model 3 --fault 0:07
console_run 90 "$VX_BUILD_LINUX/vxflash" </dev/null
vx_sim_stop
vx_expect_rc 1
vx_expect_ko "[Error 8] Download firmware Error."
grep -qF "[Error 8] Download firmware Error." run.out
vx_check "the failure line is shown" $?

if command -v script >/dev/null; then
    vx_case "interactive-terminal"
    vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed 4
    vx_ini FILENAME=image.bin SEND_FW=1 FLASHMODE=0
    # At the line rate of a real line, so that the rate and the time left show.
    vx_sim_start --model 3 --exit-after-downloads 1 --line-rate 115200
    # Enter after the prompt; the input stays open until the run ends.
    rm -f run.done
    {
        sleep 2
        printf '\n'
        for _ in $(seq 160); do
            [ -e run.done ] && break
            sleep 0.5
        done
    } |
        console_run 90 script -qfec "stty cols 80 rows 24; exec '$VX_BUILD_LINUX/vxflash'" /dev/null
    vx_sim_stop
    grep -q "Download completed" run.out
    vx_check "the run completed" $?
    vx_expect_pages image.bin 4 "4-7"
    grep -q "Press Enter to start" run.out && grep -q $'\r\033\[K\[#' run.out
    vx_check "a prompt, then one progress line redrawn in place" $?
    # A redraw wider than the terminal would wrap and leave a copy behind.
    wide=$(sed 's/\x1b\[K/\n/g' run.out | tr '\r' '\n' | awk '/^\[/ && length > 79' | head -3)
    [ -z "$wide" ] && grep -qE 'B/s  [0-9:]+ left' run.out
    vx_check "every redraw fits in 80 columns and shows the rate and time left" $? "$wide"
fi

vx_finish
