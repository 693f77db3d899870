# Integration harness: vxflash (Linux build, or vxflash.exe under Wine) against printer-sim on
# a pseudo-terminal. Source it from a test script, then for each case:
#   vx_case NAME [empty]              new run directory (current directory from then on),
#                                     with flash.mes unless "empty"
#   vx_ini KEY=VALUE ...              flash.ini (GENERAL/PORT SETTING/INTERNAL keys by name)
#   vx_image ARGS...                  vximage make ARGS (output: image.bin in the run directory)
#   vx_sim_start [printer-sim options]
#   vx_flash linux|wine [TIMEOUT]     runs the program in silent mode; sets VX_RC
#   vx_run linux|asan|wine [TIMEOUT]  runs the program as found in the run directory (no port)
#   vx_sim_stop                       ends the simulator (writes transcript, pages)
#   vx_expect_* ...                   checks; each prints PASS/FAIL
#   vx_finish                         summary line; exit status 0 only when every check passed
# Platforms come from vx_platforms (linux and/or wine, whichever build exists). Every process
# started here is ended and every temp file removed on exit.

: "${VX_SRC:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}"
: "${VX_BUILD_LINUX:=$VX_SRC/build/linux}"
: "${VX_BUILD_WINDOWS:=$VX_SRC/build/windows}"
: "${VX_WINE_COM:=COM5}"
export WINEDEBUG=${WINEDEBUG:--all}

VX_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vxint.XXXXXX")
VX_PASS=0
VX_FAIL=0
VX_FAILED=()
SIM_PID=""
VX_WINE_LINK=""

vx_cleanup() {
    vx_sim_stop >/dev/null 2>&1
    chmod -R u+rwx "$VX_TMP" 2>/dev/null  # cases may leave unreadable files behind
    [ -n "$VX_WINE_LINK" ] && rm -f "$VX_WINE_LINK"
    if [ -n "${VX_KEEP:-}" ]; then
        echo "kept $VX_TMP"
    else
        rm -rf "$VX_TMP"
    fi
}
trap vx_cleanup EXIT
trap 'exit 130' INT TERM

SIM="$VX_BUILD_LINUX/printer-sim"
SHIM="$VX_BUILD_LINUX/libvxmodem.so"
VXIMAGE="$VX_BUILD_LINUX/vximage"

vx_platforms() {
    local p=()
    [ -x "$VX_BUILD_LINUX/vxflash" ] && p+=(linux)
    if [ -f "$VX_BUILD_WINDOWS/vxflash.exe" ] && command -v wine >/dev/null; then p+=(wine); fi
    [ -n "${VX_ONLY:-}" ] && p=("$VX_ONLY")
    echo "${p[@]}"
}

vx_require() {
    local f
    for f in "$SIM" "$SHIM" "$VXIMAGE"; do
        if [ ! -e "$f" ]; then
            echo "SKIP: $f not built"
            exit 77
        fi
    done
    if [ -z "$(vx_platforms)" ]; then
        echo "SKIP: neither vxflash nor vxflash.exe is built"
        exit 77
    fi
}

vx_wine_prefix() {
    if [ -z "${WINEPREFIX:-}" ]; then
        export WINEPREFIX="${TMPDIR:-/tmp}/vxint-wineprefix-$(id -u)"
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            echo "(making a Wine prefix in $WINEPREFIX)"
            WINEDLLOVERRIDES="mscoree,mshtml=" timeout 180 wineboot -i >/dev/null 2>&1
            timeout 60 wineserver -w
        fi
    fi
    # A server that outlives each run by a few seconds saves Wine's start-up on every case;
    # it still ends by itself once the script is done.
    if [ -z "${VX_WINESERVER_UP:-}" ]; then
        wineserver -p10 >/dev/null 2>&1
        VX_WINESERVER_UP=1
    fi
}

vx_case() {
    VX_CASE=$1
    VX_RUN="$VX_TMP/$1"
    mkdir -p "$VX_RUN"
    cd "$VX_RUN" || exit 1
    [ "${2:-}" = empty ] || cp "$VX_BUILD_LINUX/flash.mes" . 2>/dev/null || cp "$VX_SRC/res/flash.mes" .
    echo "== $1"
}

# vx_ini KEY=VALUE...: FILENAME, SEND_FW, SEND_CG, SEND_BOOT, SEND_FPGA, KEEP_SETTINGS, TRACE,
# FLASHMODE, IBM_EMULATION go to [GENERAL]; BEGIN_PAGE, END_PAGE, OFFSET_PAGE to [INTERNAL];
# the rest to [PORT SETTING]. PORT is filled in by vx_flash.
vx_ini() {
    local general="" internal="" port="" kv key
    local defaults=(FLASHMODE=2 TRACE=1 BAUD=9600 SIZE=8 PARITY=0 STOP=0)
    for kv in "${defaults[@]}"; do
        printf '%s\n' "$@" | grep -q "^${kv%%=*}=" || set -- "$@" "$kv"
    done
    for kv in "$@"; do
        key=${kv%%=*}
        case $key in
        FILENAME | SEND_* | KEEP_SETTINGS | TRACE | FLASHMODE | IBM_EMULATION | CONDITIONAL_TABLE) general+="$kv"$'\n' ;;
        BEGIN_PAGE | END_PAGE | OFFSET_PAGE) internal+="$kv"$'\n' ;;
        *) port+="$kv"$'\n' ;;
        esac
    done
    {
        printf '[GENERAL]\n%s' "$general"
        printf '[PORT SETTING]\nPORT=@PORT@\n%s' "$port"
        [ -n "$internal" ] && printf '[INTERNAL]\n%s' "$internal"
    } >flash.ini
}

vx_image() {
    "$VXIMAGE" make "$@" -o image.bin >vximage.log 2>&1 || {
        echo "vximage make $* failed:"
        cat vximage.log
        return 1
    }
}

# The simulator's own time-out only ends one left behind: longer than any run's limit.
vx_sim_start() {
    rm -f sim.ready
    "$SIM" --ready-file "$VX_RUN/sim.ready" --transcript "$VX_RUN/transcript.txt" \
        --pages-out "$VX_RUN/pages" --modem-file "$VX_RUN/modem" --modem-log "$VX_RUN/modem.log" \
        --timeout "${VX_SIM_TIMEOUT:-300}" "$@" >"$VX_RUN/sim.out" 2>"$VX_RUN/sim.err" &
    SIM_PID=$!
    local i
    for i in $(seq 100); do
        [ -s "$VX_RUN/sim.ready" ] && break
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    if [ ! -s "$VX_RUN/sim.ready" ]; then
        echo "printer-sim did not start:"
        cat "$VX_RUN/sim.err"
        SIM_PID=""
        return 1
    fi
    SIM_PTY=$(cat "$VX_RUN/sim.ready")
}

vx_sim_stop() {
    [ -n "$SIM_PID" ] || return 0
    kill -TERM "$SIM_PID" 2>/dev/null
    local i
    for i in $(seq 100); do
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=""
}

# vx_flash linux|wine [TIMEOUT]: runs the program in the run directory against the simulator.
vx_flash() {
    local platform=$1 limit=${2:-60} port
    rm -f KO.txt OK.txt modem.log
    # A case may make it a directory or a link (symbolic or hard) to leave alone.
    [ -d FlashTrace.dbg ] || [ -L FlashTrace.dbg ] ||
        [ "$(stat -c %h FlashTrace.dbg 2>/dev/null || echo 1)" -gt 1 ] || rm -f FlashTrace.dbg
    if [ "$platform" = wine ]; then
        vx_wine_prefix
        port=$VX_WINE_COM
        VX_WINE_LINK="$WINEPREFIX/dosdevices/$(echo "$port" | tr 'A-Z' 'a-z')"
        ln -sfn "$SIM_PTY" "$VX_WINE_LINK"
    else
        port=$SIM_PTY
    fi
    sed -i "s|@PORT@|$port|" flash.ini
    local start=$(date +%s%N)
    if [ "$platform" = wine ]; then
        VX_MODEM_FILE="$VX_RUN/modem" VX_MODEM_LOG="$VX_RUN/modem.log" LD_PRELOAD="$SHIM" \
            timeout -k 5 "$limit" wine "$VX_BUILD_WINDOWS/vxflash.exe" >run.out 2>&1
    else
        VX_MODEM_FILE="$VX_RUN/modem" VX_MODEM_LOG="$VX_RUN/modem.log" LD_PRELOAD="$SHIM" \
            timeout -k 5 "$limit" "$VX_BUILD_LINUX/vxflash" >run.out 2>&1
    fi
    VX_RC=$?
    VX_ELAPSED_MS=$((($(date +%s%N) - start) / 1000000))
    sed -i "s|^PORT=$port\$|PORT=@PORT@|" flash.ini
    echo "   ($platform: exit $VX_RC after ${VX_ELAPSED_MS} ms)"
    # A run stopped at its limit: what it got to, for whoever reads the log.
    if [ "$VX_RC" -eq 124 ] || [ "$VX_RC" -eq 137 ]; then
        local f
        for f in FlashTrace.dbg run.out transcript.txt sim.err; do
            [ -s "$f" ] && { echo "   -- last lines of $f:"; tail -5 "$f" | cat -v | sed 's/^/      /'; }
        done
        [ -s FlashTrace.dbg ] || echo "   -- no trace written"
    fi
}

# vx_run linux|asan|wine [TIMEOUT]: the program in the run directory with whatever files the
# case left there, standard input closed and, under Wine, no display (a window or box that
# should not be there then ends the run instead of waiting). Output in $VX_OUT, outside the
# run directory. Sets VX_RC; a hang, a crash or a sanitizer report is a failed check.
vx_run() {
    local platform=$1 limit=${2:-60}
    VX_OUT="$VX_TMP/$VX_CASE.out"
    case $platform in
    wine)
        DISPLAY='' WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
            timeout -k 5 "$limit" wine "$VX_BUILD_WINDOWS/vxflash.exe" </dev/null >"$VX_OUT" 2>&1 ;;
    asan) timeout -k 5 "$limit" "$VX_BUILD_ASAN/vxflash" </dev/null >"$VX_OUT" 2>&1 ;;
    *) timeout -k 5 "$limit" "$VX_BUILD_LINUX/vxflash" </dev/null >"$VX_OUT" 2>&1 ;;
    esac
    VX_RC=$?
    local why=""
    if [ "$VX_RC" -eq 124 ] || [ "$VX_RC" -eq 137 ]; then
        why="timed out after $limit s (a window or box waiting?)"
    elif [ "$platform" != wine ] && [ "$VX_RC" -ge 128 ]; then
        why="killed by signal $((VX_RC - 128))"
    elif grep -qE 'ERROR: AddressSanitizer|runtime error:|LeakSanitizer' "$VX_OUT"; then
        why="sanitizer report: $(head -20 "$VX_OUT")"
    fi
    [ -z "$why" ]
    vx_check "$platform run ends by itself, clean" $? "$why"
}

# vx_signal_later SECS SIGNAL: SIGNAL, SECS from now, to the Linux program of this run only
# (found by its working directory and executable). vx_signal_done ends the waiting sender.
vx_signal_later() {
    (
        sleep "$1"
        for p in /proc/[0-9]*; do
            [ "$(readlink "$p/cwd")" = "$VX_RUN" ] &&
                [ "$(readlink "$p/exe")" = "$VX_BUILD_LINUX/vxflash" ] && kill "-$2" "${p#/proc/}"
        done
    ) &
    VX_SIGNALLER=$!
}
vx_signal_done() {
    [ -n "${VX_SIGNALLER:-}" ] || return 0
    kill "$VX_SIGNALLER" 2>/dev/null
    wait "$VX_SIGNALLER" 2>/dev/null
    VX_SIGNALLER=""
}

vx_check() {  # description, status
    if [ "$2" -eq 0 ]; then
        VX_PASS=$((VX_PASS + 1))
        echo "   PASS $1"
    else
        VX_FAIL=$((VX_FAIL + 1))
        VX_FAILED+=("$VX_CASE: $1")
        echo "   FAIL $1"
        if [ -n "${3:-}" ]; then echo "$3" | sed 's/^/        /' | head -15; fi
    fi
}

vx_expect_rc() {
    [ "$VX_RC" = "$1" ]
    vx_check "exit code $1" $? "got $VX_RC; run.out: $(head -5 run.out 2>/dev/null)"
}

# Lines of a file, in this order (other lines may come between).
vx_expect_lines() {  # file, line...
    local file=$1
    shift
    local got
    got=$(python3 - "$file" "$@" <<'PY'
import sys
path, want = sys.argv[1], sys.argv[2:]
try:
    lines = open(path, 'rb').read().decode('latin-1').splitlines()
except OSError:
    print("no file " + path); sys.exit(1)
i = 0
for w in want:
    while i < len(lines) and w not in lines[i]:
        i += 1
    if i == len(lines):
        print("missing: " + w); sys.exit(1)
    i += 1
PY
)
    # The status first: the description's own command substitution would reset $?.
    local rc=$?
    vx_check "$file has: $(printf '%s | ' "$@")" "$rc" "$got"
}

vx_expect_trace() { vx_expect_lines FlashTrace.dbg "$@"; }
vx_expect_ko() { vx_expect_lines KO.txt "$@"; }

vx_expect_no_file() {  # file...
    local f
    for f in "$@"; do
        [ ! -e "$f" ]
        vx_check "no $f" $? "$(head -5 "$f" 2>/dev/null)"
    done
}

# vx_expect_only_lines FILE EOL TEXT...: FILE holds exactly these lines, each after a time
# stamp and ended with EOL (printf %b escapes).
vx_expect_only_lines() {
    local file=$1 eol=$2 t want=""
    shift 2
    for t in "$@"; do want+="[T]${t//\\/\\\\}$eol"; done
    [ -f "$file" ] && cmp -s <(printf '%b' "$want") \
        <(LC_ALL=C sed -E 's/^\[[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\]/[T]/' "$file")
    vx_check "$file is exactly: $*" $? "$(od -c "$file" 2>&1 | head -8)"
}

# vx_expect_bytes FILE PRINTF-TEXT: FILE holds exactly these bytes.
vx_expect_bytes() {
    cmp -s <(printf '%b' "$2") "$1"
    vx_check "$1 holds exactly the expected bytes" $? "$(od -c "$1" 2>&1 | head -8)"
}

vx_expect_file() {
    [ -e "$1" ]
    vx_check "$1 written" $?
}

# The bytes the printer received before it first sent anything (hex, space separated).
vx_rx_before_first_tx() {
    awk '$2 == "TX" { exit } $2 == "RX" { for (i = 3; i <= NF; i++) printf "%s ", $i }' transcript.txt | sed 's/ $//'
}

vx_expect_rx_before_sync() {  # expected hex ("1b 7d 7b" or "")
    local got
    got=$(vx_rx_before_first_tx)
    [ "$got" = "$1" ]
    vx_check "printer received [$1] before its first byte" $? "got [$got]"
}

# vx_expect_pages IMAGE SHIFT "a-b c-d ...": the simulator holds exactly these flash pages,
# each equal to image page (flash page - SHIFT).
vx_expect_pages() {
    local image=$1 shift_by=$2 ranges=$3 want=() r p a b msg=""
    for r in $ranges; do
        a=${r%-*}
        b=${r#*-}
        for ((p = a; p <= b; p++)); do want+=("$p"); done
    done
    local have
    have=$(awk '{ print $1 }' pages/pages.txt 2>/dev/null | sort -n | tr '\n' ' ' | sed 's/ $//')
    local wanted
    wanted=$(printf '%s\n' "${want[@]}" | sort -n | tr '\n' ' ' | sed 's/ $//')
    [ "$have" = "$wanted" ] || msg="pages held: [$have], expected [$wanted]"
    if [ -z "$msg" ]; then
        for p in "${want[@]}"; do
            if ! cmp -s -n 16384 -i "0:$(((p - shift_by) * 16384))" "$(printf 'pages/page-%04d.bin' "$p")" "$image"; then
                msg="flash page $p differs from image page $((p - shift_by))"
                break
            fi
        done
    fi
    [ -z "$msg" ]
    vx_check "printer holds pages $ranges of the image" $? "$msg"
}

vx_finish() {
    echo "$VX_PASS passed, $VX_FAIL failed"
    if [ "$VX_FAIL" -ne 0 ]; then
        printf '  failed: %s\n' "${VX_FAILED[@]}"
        return 1
    fi
    return 0
}
