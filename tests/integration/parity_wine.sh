#!/usr/bin/env bash
# The two builds must behave the same: each scenario runs on the Linux build and on the exe
# under Wine against the same simulator, and the bytes on the line (in each direction, in
# order), the trace, the exit code and the result files must agree. Set aside: time stamps,
# how the bytes were split into reads, and the lines that name a platform's own things.
: "${VX_WINE_COM:=COM29}"
. "$(dirname "$0")/lib/harness.sh"
vx_require
if [ ! -x "$VX_BUILD_LINUX/vxflash" ] || [ ! -f "$VX_BUILD_WINDOWS/vxflash.exe" ] ||
    ! command -v wine >/dev/null; then
    echo "SKIP: needs both the Linux build and the exe under Wine"
    exit 77
fi

# Differences that come from the platform, not from the program:
# - the header's speed byte follows the serial driver's maximum-speed report: a 16550 under
#   Windows and our Linux port report "any speed" (the configured speed is kept), Wine's
#   serial driver reports a fixed 115200 flag, which falls back to 9600;
# - only Windows has a print spooler to stop and restart; paths and port names differ, and
#   OK.txt and KO.txt end their lines the Windows way there.
normalize() {  # transcript|trace FILE
    python3 - "$@" <<'PY'
import re, sys
kind, path = sys.argv[1], sys.argv[2]
text = open(path, 'rb').read().decode('latin-1')
out = []
if kind == 'transcript':
    for line in text.splitlines():
        line = re.sub(r'^t=\d+ms ', '', line)
        line = re.sub(r'speed=0x[0-9a-f]+ \(\d+\)', 'speed=<driver>', line)
        d, _, rest = line.partition(' ')
        if d in ('RX', 'TX') and out and out[-1][0] == d:
            out[-1][1].append(rest)       # one stream per direction until the other speaks
        else:
            out.append([d, [rest]])
    text = '\n'.join(f'{d} {" ".join(parts)}' for d, parts in out)
    # the header's last byte is the speed code
    text = re.sub(r'(EV download command; sync 0x[0-9a-f]+\nTX [0-9a-f]+\nRX [^\n]*)[0-9a-f]{2}$',
                  r'\1<speed>', text, flags=re.M)
    print(text)
else:
    skip = ('Spooler Service', '[Winmain] Start - Ini Pathname', '[open_port] Port ')
    for line in text.splitlines():
        line = re.sub(r'^\[\d\d:\d\d:\d\d\]', '', line)
        if any(s in line for s in skip):
            continue
        line = re.sub(r'Send baud_rate=0x[0-9a-f]+', 'Send baud_rate=<driver>', line)
        print(line)
PY
}

run_both() {  # name, ini..., -- sim options...
    local name=$1 ini=() pf
    shift
    while [ $# -gt 0 ] && [ "$1" != -- ]; do ini+=("$1"); shift; done
    shift
    for pf in linux wine; do
        vx_case "$name-$pf"
        cp "$VX_TMP/$name.bin" image.bin
        vx_ini "${ini[@]}"
        vx_sim_start --transcript-full "$@"
        vx_flash "$pf" 240
        vx_sim_stop
        echo "exit $VX_RC" >result.txt
        cat OK.txt KO.txt 2>/dev/null | sed -E 's/^\[[0-9:]{8}\]//; s/\r$//' >>result.txt
        normalize transcript transcript.txt >line.norm
        normalize trace FlashTrace.dbg >trace.norm
    done
    local a="$VX_TMP/$name-linux" b="$VX_TMP/$name-wine" f
    for f in result.txt line.norm trace.norm; do
        cmp -s "$a/$f" "$b/$f"
        vx_check "$name: $f the same on both builds" $? "$(diff "$a/$f" "$b/$f" | cut -c1-160 | head -8)"
    done
}

# name | image | flash.ini | simulator
vx_case images >/dev/null
"$VXIMAGE" make --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed 3 -o "$VX_TMP/m3.bin" >/dev/null &&
    "$VXIMAGE" make --model 6 --kind fw --pages 8 --fw-end 0x1FFFF --fpga-end 0x27FFF --seed 6 -o "$VX_TMP/m6.bin" >/dev/null &&
    "$VXIMAGE" make --model 1 --kind fw --pages 64 --seed 1 -o "$VX_TMP/m1.bin" >/dev/null ||
    { echo "vximage failed"; exit 1; }
cp "$VX_TMP/m3.bin" "$VX_TMP/m3-retry.bin"
cp "$VX_TMP/m3.bin" "$VX_TMP/m3-failed.bin"
cp "$VX_TMP/m3.bin" "$VX_TMP/m3-silent.bin"

run_both m3 FILENAME=image.bin SEND_FW=1 -- --model 3 --exit-after-downloads 1
run_both m6 FILENAME=image.bin SEND_FW=1 SEND_CG=1 -- --model 6 --exit-after-downloads 1
run_both m1 FILENAME=image.bin SEND_FW=1 SEND_CG=1 KEEP_SETTINGS=1 -- --model 1 --exit-after-downloads 3
run_both m3-retry FILENAME=image.bin SEND_FW=1 -- --model 3 --fault 0:06 --fault 0:00x3,03,ok --exit-after-downloads 1
run_both m3-failed FILENAME=image.bin SEND_FW=1 -- --model 3 --fault 0:07
run_both m3-silent FILENAME=image.bin SEND_FW=1 -- --model 3 --silent
vx_finish
