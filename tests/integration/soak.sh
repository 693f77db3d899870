#!/usr/bin/env bash
# Seeded soak: N silent downloads in a row (Linux build) against printer-sim, each with a fault
# drawn at random from the kinds the program must recover from and those it must give up on.
# Every run must agree with what the simulator holds: exit code 1 and OK.txt only when every
# page of the range arrived intact, exit code 0, a KO.txt line and no OK.txt otherwise. Then
# the procedure runs several times in one process per fault kind, on the Linux build and in
# the exe under Wine, and the open descriptors (handles) must not grow from one run to the next.
#
#   soak.sh [--runs N] [--seed S]
# Runs: --runs, else $VX_SOAK_RUNS, else 20 under scripts/test (which sets VX_SRC) and 100
# when started by hand. The seed (default: from the clock) and each run's fault are printed;
# the same seed draws the same faults.
[ -n "${VX_SRC+set}" ] && default_runs=20 || default_runs=100
runs=${VX_SOAK_RUNS:-$default_runs}
seed=$(($(date +%s) % 100000))
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) runs=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    *) echo "usage: soak.sh [--runs N] [--seed S]"; exit 2 ;;
    esac
done
case "$runs$seed" in *[!0-9]*) echo "usage: soak.sh [--runs N] [--seed S]"; exit 2 ;; esac

: "${VX_WINE_COM:=COM28}"  # a port of its own beside the other jobs
. "$(dirname "$0")/lib/harness.sh"
vx_require
[ -x "$VX_BUILD_LINUX/vxflash" ] || { echo "SKIP: the Linux build is needed"; exit 77; }
DRIVER="$VX_BUILD_LINUX/procedure_driver"

echo "soak: $runs runs, seed $seed (again: soak.sh --runs $runs --seed $seed)"
RANDOM=$seed
pick() { echo $((RANDOM % $1)); }

RECOVERABLE=(none retry retry-twice waiting slow-bank cts-low)
UNRECOVERABLE=(reply-07 reply-garbage resend-limit hang-up image-changed)

# The page range: firmware only (one bank), firmware and CG (two banks), or six pages (a full
# bank and a partial one).
choose_range() {
    case $(pick 3) in
    0) RANGE=4-7 BANKS=(4) INI=(SEND_FW=1) PAGES=8 ;;
    1) RANGE=4-11 BANKS=(4 4) INI=(SEND_FW=1 SEND_CG=1) PAGES=8 ;;
    2) RANGE=4-9 BANKS=(4 2) INI=(SEND_FW=1 SEND_CG=1) PAGES=6 ;;
    esac
}

# Sets SIM_OPTS, MODEM_CTS_LOW and FAULT_TEXT for a fault kind on a random bank.
draw_fault() {  # kind
    local bank=$(pick ${#BANKS[@]})
    SIM_OPTS=() MODEM_CTS_LOW=0
    case "$1" in
    none) ;;
    retry) SIM_OPTS=(--fault "$bank:06") ;;
    retry-twice) SIM_OPTS=(--fault "$bank:06,00,06") ;;
    waiting) SIM_OPTS=(--fault "$bank:00x$((1 + $(pick 5))),03x$((1 + $(pick 3))),ok") ;;
    slow-bank) SIM_OPTS=(--program-ms $((500 + $(pick 3000)))) ;;
    cts-low) MODEM_CTS_LOW=1 ;;
    reply-07) SIM_OPTS=(--fault "$bank:07") ;;
    reply-garbage) SIM_OPTS=(--fault "$bank:00,$(printf '%02x' $((0x40 + $(pick 64))))") ;;
    resend-limit) SIM_OPTS=(--fault "$bank:06x12") ;;
    hang-up) SIM_OPTS=(--hang-up-in-bank "$bank:$((1 + $(pick $((BANKS[bank] * 16384)))))") ;;
    image-changed)
        local at=$(pick 100000)
        SIM_OPTS=(--on-header "printf x | dd of='$VX_RUN/image.bin' bs=1 seek=$at conv=notrunc 2>/dev/null") ;;
    esac
    FAULT_TEXT="$1 ${SIM_OPTS[*]}"
    [ "$1" = image-changed ] && FAULT_TEXT="$1 (byte $at becomes 'x' when the header arrives)"
    [ "$MODEM_CTS_LOW" = 1 ] && FAULT_TEXT+=" (CTS held low)"
}

# 0 when the simulator holds exactly the pages of the range, each equal to the image's.
pages_intact() {  # image copy
    local a=${RANGE%-*} b=${RANGE#*-} p want have
    want=$(seq "$a" "$b" | tr '\n' ' ')
    have=$(awk '{ print $1 }' pages/pages.txt 2>/dev/null | sort -n | tr '\n' ' ')
    [ "$have" = "$want" ] || return 1
    for ((p = a; p <= b; p++)); do
        cmp -s -n 16384 -i "0:$(((p - 4) * 16384))" "$(printf 'pages/page-%04d.bin' "$p")" "$1" || return 1
    done
}

for ((run = 1; run <= runs; run++)); do
    vx_case "run-$run"
    choose_range
    vx_image --model 3 --kind fw --pages "$PAGES" --fw-end 0x1FFFF --seed $((seed + run))
    cp image.bin image.orig  # the on-header fault changes image.bin
    vx_ini FILENAME=image.bin "${INI[@]}"
    if [ $(pick 2) = 0 ]; then
        kind=${RECOVERABLE[$(pick ${#RECOVERABLE[@]})]}
        expect=success
    else
        kind=${UNRECOVERABLE[$(pick ${#UNRECOVERABLE[@]})]}
        expect=failure
    fi
    draw_fault "$kind"
    echo "   run $run: pages $RANGE, fault: $FAULT_TEXT (must end in $expect)"
    vx_sim_start --model 3 --exit-after-downloads 1 "${SIM_OPTS[@]}" || { vx_check "simulator started" 1; continue; }
    [ "$MODEM_CTS_LOW" = 1 ] && printf 'DSR=1\nCTS=0\n' >modem
    vx_flash linux 120
    vx_sim_stop

    ok_line=0
    [ "$VX_RC" = 1 ] && [ -s OK.txt ] && [ ! -e KO.txt ] && ok_line=1
    failed_line=0
    [ "$VX_RC" = 0 ] && [ ! -e OK.txt ] && [ -s KO.txt ] && failed_line=1
    if pages_intact image.orig; then held=all; else held=partial; fi
    if [ "$held" = all ]; then
        [ $ok_line = 1 ]
    else
        [ $failed_line = 1 ]
    fi
    vx_check "run $run: result (exit $VX_RC) agrees with the printer holding $held pages" $? \
        "OK.txt: $(cat OK.txt 2>/dev/null); KO.txt: $(cat KO.txt 2>/dev/null)"
    { [ "$expect" = success ] && [ "$held" = all ]; } || { [ "$expect" = failure ] && [ "$held" = partial ]; }
    vx_check "run $run: $kind ends in $expect" $?
done

# Descriptors: the procedure three times in one process per fault kind, as the main page runs
# it again after a result; the exe under Wine counts its handles. A hang-up ends the simulator,
# so the later runs fail to open the port; under Wine each of those reads waits out its
# time-out (about a minute a run), so that kind runs on Linux only.
leak_check() {  # platform, kinds...
    local pf=$1 kind rc port driver
    shift
    for kind in "$@"; do
        vx_case "handles-$pf-$kind"
        RANGE=4-11 BANKS=(4 4)
        vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed "$seed"
        vx_ini FILENAME=image.bin SEND_FW=1 SEND_CG=1
        draw_fault "$kind"
        vx_sim_start --model 3 "${SIM_OPTS[@]}" || { vx_check "simulator started" 1; continue; }
        port=$SIM_PTY driver=("$DRIVER")
        if [ "$pf" = wine ]; then
            vx_wine_prefix
            port=$VX_WINE_COM
            VX_WINE_LINK="$WINEPREFIX/dosdevices/$(echo "$port" | tr 'A-Z' 'a-z')"
            ln -sfn "$SIM_PTY" "$VX_WINE_LINK"
            driver=(wine "$VX_BUILD_WINDOWS/procedure_driver.exe")
        fi
        sed -i "s|@PORT@|$port|" flash.ini
        VX_MODEM_FILE="$VX_RUN/modem" LD_PRELOAD="$SHIM" timeout -k 5 300 "${driver[@]}" --runs 3 >run.out 2>&1
        rc=$?
        vx_sim_stop
        grep ' before=' run.out | sed 's/^/   /'
        [ "$rc" != 3 ] && [ "$rc" != 124 ] && [ "$(grep -c ' before=' run.out)" = 3 ]
        vx_check "$pf $kind: three runs, nothing left open (exit $rc)" $? "$(tail -3 run.out)"
    done
}
if [ -x "$DRIVER" ]; then
    leak_check linux none reply-07 retry resend-limit image-changed hang-up
else
    echo "   (procedure_driver not built: no descriptor check)"
fi
if [ -f "$VX_BUILD_WINDOWS/procedure_driver.exe" ] && command -v wine >/dev/null; then
    leak_check wine none reply-07 retry resend-limit image-changed
else
    echo "   (procedure_driver.exe or wine missing: no handle check)"
fi

vx_finish
