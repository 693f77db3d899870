#!/usr/bin/env bash
# vxflash at start-up, each case in a fresh directory with only the files its set-up makes:
# result files of the failure cases, flash.ini write-backs byte for byte, and hand-edited
# files gone bad (garbage, huge lines, directories, pipes, unreadable files) that must neither
# crash nor hang, also under the sanitizers. Runs the Linux build, its sanitizer build and the
# exe under Wine, whichever are built (VX_ONLY=linux|asan|wine picks one). Under Wine no run
# gets a display except the one case run under Xvfb: a window that should not be there then
# fails fast instead of waiting for a user.
. "$(dirname "$0")/lib/harness.sh"
: "${VX_BUILD_ASAN:=$VX_SRC/build/linux-asan}"
MES=$VX_BUILD_LINUX/flash.mes
[ -f "$MES" ] || MES=$VX_SRC/res/flash.mes

platforms=()
[ -x "$VX_BUILD_LINUX/vxflash" ] && platforms+=(linux)
[ -x "$VX_BUILD_ASAN/vxflash" ] && platforms+=(asan)
if [ -f "$VX_BUILD_WINDOWS/vxflash.exe" ] && command -v wine >/dev/null; then platforms+=(wine); fi
[ -n "${VX_ONLY:-}" ] && platforms=("$VX_ONLY")
[ ${#platforms[@]} -gt 0 ] || { echo "SKIP: neither vxflash nor vxflash.exe is built"; exit 77; }

# Set-up helpers (run in the case directory).
ini() { printf '%b' "$1" >flash.ini; }
mes() { cp "$MES" flash.mes; }
garbage() { head -c "$1" /dev/urandom; }
repeat() { head -c "$2" /dev/zero | tr '\0' "$1"; }  # char, count
long_line() { printf '[GENERAL]\r\nFILENAME='; repeat x 1000000; printf '\r\n'; }
deep_dir() {  # too long for a 260-character path: flash.ini is out of reach
    local deep
    deep=$VX_RUN/$(printf 'd%.0s' {1..120})/$(printf 'e%.0s' {1..120})
    mkdir -p "$deep" && cd "$deep" || exit 1
}

# Checks (after the run, in the directory the set-up left current).
absent() { vx_expect_no_file "$@"; }
ini_same() { vx_expect_bytes flash.ini "$INI"; }
ini_is() { vx_expect_bytes flash.ini "$1"; }
only() {
    [ "$(ls -A)" = "$1" ]
    vx_check "nothing but $1 in the directory" $? "$(ls -A | tr '\n' ' ')"
}
quiet() {
    [ ! -s "$VX_OUT" ]
    vx_check "a silent run prints nothing" $? "$(head -3 "$VX_OUT")"
}
shows() {
    grep -qF "$1" "$VX_OUT"
    vx_check "shown: $1" $? "$(head -3 "$VX_OUT")"
}
trace_has() { vx_expect_trace "$@"; }
trace_lacks() {
    ! grep -qF "$1" FlashTrace.dbg 2>/dev/null
    vx_check "no trace line with: $1" $?
}
# The trace is the start line alone, naming flash.ini as the program spells the path: under
# Wine the upper-cased current directory, then the file name in its own case.
trace_is_start() {
    local path=$PWD/flash.ini
    [ "$pf" = wine ] && path="Z:$(printf '%s' "$PWD" | tr 'a-z/' 'A-Z\\')\\flash.ini"
    vx_expect_only_lines FlashTrace.dbg "$EOL" "[FLASH][Winmain] Start - Ini Pathname = $path "
}
trace_starts() {
    head -1 FlashTrace.dbg 2>/dev/null |
        grep -qxE "\[[0-9:]{8}\]\[FLASH\]\[Winmain\] Start - Ini Pathname = $PWD/flash.ini "
    vx_check "the trace starts with the start line" $? "$(head -1 FlashTrace.dbg 2>/dev/null)"
}
still_pipe() {
    [ -p FlashTrace.dbg ]
    vx_check "FlashTrace.dbg is still the pipe" $?
}
spooler_line() {
    grep -qE '\[FLASH\]\[Winmain\] Spooler Service (Stopped|not running: left as found)' \
        FlashTrace.dbg 2>/dev/null
    vx_check "a spooler line in the trace" $?
}

# Set-up and checks are shell text, run with eval; INI is set to the flash.ini the set-up
# wrote. linux rows run on the Linux build, asan rows on its sanitizer build, wine rows on the
# exe. Exit "0/1" takes either; KO.txt "-" is not looked at, any other text must be its one
# time-stamped line. A set-up that sets XVFB=1 runs with a display of its own (one case).
# name | platforms | set-up | exit | KO.txt | checks
CASES=$(
    cat <<'EOF'
# No flash.ini: code 1 only, results of an earlier run gone, nothing traced, nothing created.
empty           | linux wine | printf 'old\r\n' >KO.txt; printf old >OK.txt | 0 | [Error 1] flash.ini not found. | absent OK.txt FlashTrace.dbg flash.ini; only KO.txt
deep_directory  | linux      | deep_dir; ini '[GENERAL]\r\nFILENAME=a\r\n'; mes | 0 | [Error 1] flash.ini not found. | -
# flash.ini without flash.mes: code 2; flash.ini not even read.
no_mes          | linux wine | ini '[GENERAL]\r\nFILENAME=fw.bin\r\nTRACE=1\r\n' | 0 | [Error 2] file flash.mes not found. | absent OK.txt FlashTrace.dbg; ini_same
# A parallel port: refused with code 11; silent: no box, nothing printed, spooler untouched.
lpt_silent      | linux wine | mes; ini '[GENERAL]\r\nFILENAME=fw.bin\r\nFLASHMODE=2\r\nTRACE=1\r\n[PORT SETTING]\r\nPORT=LPT1\r\n' | 0 | [Error 11] LPT Invalid port type | absent OK.txt; ini_same; trace_is_start; quiet
lpt_interactive | linux      | mes; ini '[GENERAL]\r\nFILENAME=a.bin\r\n[PORT SETTING]\r\nPORT=LPT2\r\n' | 0 | [Error 11] LPT Invalid port type | shows Parallel
# Unattended, no printer on USB01: a failure, shown on the console and traced from the start.
trace_first_line | linux     | mes; ini '[GENERAL]\r\nFILENAME=a.bin\r\nTRACE=1\r\nFLASHMODE=1\r\n[PORT SETTING]\r\nPORT=USB01\r\n'; echo "earlier trace" >FlashTrace.dbg | 1 | - | trace_starts; trace_has 'NOT Interactive Mode'; trace_lacks Spooler; shows '[Error 5] Printer OFF - portname USB01.'; trace_has ProductVersion
# Write-backs keep every other byte. Wine rewrites a profile file as a whole (Windows edits it
# in place), so the hand-written files (spaces, bare LF, odd case) are for the Linux build.
# FILENAME present, PORT missing: PORT=USB01 at the end of its section (silent, no printer).
port_usb01      | linux wine | mes; ini '[GENERAL]\r\nFILENAME=fw.bin\r\nFLASHMODE=2\r\n[PORT SETTING]\r\nBAUD=9600\r\n[OTHER]\r\nX=1\r\n' | 0 | - | absent OK.txt; ini_is '[GENERAL]\r\nFILENAME=fw.bin\r\nFLASHMODE=2\r\n[PORT SETTING]\r\nBAUD=9600\r\nPORT=USB01\r\n[OTHER]\r\nX=1\r\n'
writeback_usb01 | linux      | mes; ini '[GENERAL]\r\nFILENAME = fw.bin\r\nFLASHMODE=2\r\n\r\n[port setting]\r\n; speed\r\nBAUD=4800\r\n\r\n[Z]\r\n' | 0/1 | - | ini_is '[GENERAL]\r\nFILENAME = fw.bin\r\nFLASHMODE=2\r\n\r\n[port setting]\r\n; speed\r\nBAUD=4800\r\nPORT=USB01\r\n\r\n[Z]\r\n'
# Neither FILENAME nor PORT: PORT=COM1 in a new section, TRACE and FLASHMODE not read; the
# run is interactive (under Wine with no display the sheet cannot open: start-up returns 1).
port_com1       | linux wine | mes; ini '[GENERAL]\r\nTRACE=1\r\n' | 1 | - | ini_is '[GENERAL]\r\nTRACE=1\r\n[PORT SETTING]\r\nPORT=COM1\r\n'; absent FlashTrace.dbg OK.txt KO.txt
writeback_com1  | linux      | mes; ini '; hand-written\r\n\r\n[ General ]\r\n  TRACE = 1 \r\n\tFLASHMODE=2\n\n[Other]\nx = 1' | 1 | - | ini_is "$INI\r\n[PORT SETTING]\r\nPORT=COM1\r\n"; absent FlashTrace.dbg
# "PORT=" counts as missing and is replaced in place.
writeback_empty_port | linux | mes; ini '[PORT SETTING]\r\n   PORT =   \r\nBAUD=9600' | 0/1 | - | ini_is '[PORT SETTING]\r\nPORT=COM1\r\nBAUD=9600'
# A COM port outside interactive mode: the spooler service is stopped first (a fresh prefix's
# spooler may not run: the spooler table below covers both).
com_silent      | wine       | mes; ini '[GENERAL]\r\nFILENAME=fw.bin\r\nFLASHMODE=2\r\nTRACE=1\r\n[PORT SETTING]\r\nPORT=COM9\r\n' | 0 | - | absent OK.txt; spooler_line
# Unattended: the sheet opens, its page starts by itself and ends the process (no printer).
unattended_sheet | wine      | XVFB=1; mes; ini '[GENERAL]\r\nFILENAME=fw.bin\r\nFLASHMODE=1\r\nTRACE=1\r\n[PORT SETTING]\r\nPORT=USB01\r\n' | 1 | - | absent OK.txt; vx_expect_ko '[Error 3] Error opening printer port.'; trace_has '[FLASH][Winmain] Start with NOT Interactive Mode' '[FLASH][main_page] Flash procedure FAILED - ExitProcess(1)'
# Bad input: nothing may crash or hang.
garbage_ini     | linux asan | garbage 200000 >flash.ini; mes | 0/1 | - | -
garbage_mes     | linux asan | ini '[GENERAL]\r\nFILENAME=a\r\nFLASHMODE=1\r\n'; garbage 200000 >flash.mes | 0/1 | - | -
garbage_both    | linux asan | garbage 5000 >flash.ini; garbage 5000 >flash.mes | 0/1 | - | -
long_lines      | linux asan | long_line >flash.ini; { printf '28,'; repeat y 1000000; } >flash.mes | 0/1 | - | -
long_id_field   | linux asan | ini '[GENERAL]\r\nFILENAME=a\r\n'; repeat 7 500000 >flash.mes | 0/1 | - | -
empty_files     | linux asan | : >flash.ini; : >flash.mes | 0/1 | - | -
dir_ini         | linux asan | mkdir flash.ini; mes | 0/1 | - | -
dir_mes         | linux asan | ini '[GENERAL]\r\nFILENAME=a\r\nFLASHMODE=2\r\n'; mkdir flash.mes | 0/1 | - | -
fifo_ini        | linux asan | mkfifo flash.ini; mes | 0/1 | - | -
fifo_mes        | linux asan | ini '[GENERAL]\r\nFILENAME=a\r\n'; mkfifo flash.mes | 0/1 | - | -
# A pipe named like the trace: the run goes on without one.
fifo_trace      | linux asan | ini '[GENERAL]\r\nFILENAME=a.bin\r\nTRACE=1\r\nFLASHMODE=1\r\n[PORT SETTING]\r\nPORT=USB01\r\n'; mes; mkfifo FlashTrace.dbg | 1 | - | still_pipe
fifo_trace_silent | linux asan | ini '[GENERAL]\r\nFILENAME=a.bin\r\nTRACE=1\r\nFLASHMODE=2\r\n[PORT SETTING]\r\nPORT=/dev/vx-no-such-port\r\n'; mes; mkfifo FlashTrace.dbg | 0/1 | - | -
unreadable      | linux asan | ini '[GENERAL]\r\nFILENAME=a\r\n'; mes; chmod 000 flash.ini flash.mes | 0/1 | - | -
readonly_dir    | linux asan | ini '[GENERAL]\r\nFILENAME=a\r\nTRACE=1\r\nFLASHMODE=2\r\n'; mes; chmod 444 flash.ini; chmod 555 . | 0/1 | - | -
utf16_ini       | linux asan | printf '\xff\xfe[\0G\0]\0' >flash.ini; mes | 0/1 | - | -
formats_in_mes  | linux asan | ini '[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=LPT1\r\n'; printf '39,%%s%%s%%n%%n\r\n47,%%999999999d%%s' >flash.mes | 0/1 | - | -
EOF
)

trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' <<<"$1"; }

# The one run with a display: the prefix's desktop process keeps the display it started with,
# so begin and end with none running; this run gets Xvfb and no later run inherits it.
run_xvfb() {
    VX_OUT="$VX_TMP/$VX_CASE.out"
    timeout -k 5 90 xvfb-run -a bash -c '
        wineserver -k; timeout 30 wineserver -w
        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" timeout -k 5 60 wine "$1"
        rc=$?
        wineserver -k; timeout 30 wineserver -w
        exit $rc' _ "$VX_BUILD_WINDOWS/vxflash.exe" >"$VX_OUT" 2>&1
    VX_RC=$?
}

run_table() {  # the rows of platform $pf
    local name plats setup rc ko checks
    while IFS='|' read -r name plats setup rc ko checks <&3; do
        name=$(trim "$name")
        [ -n "$name" ] && [ "${name:0:1}" != "#" ] || continue
        [[ " $plats " == *" $pf "* ]] || continue
        setup=$(trim "$setup") rc=$(trim "$rc") ko=$(trim "$ko") checks=$(trim "$checks")
        vx_case "$pf-$name" empty
        XVFB=""
        eval "$setup"
        INI=""
        [ -f flash.ini ] && [ -r flash.ini ] && INI=$(od -An -v -tx1 flash.ini | tr -d ' \n' | sed 's/../\\x&/g')
        if [ -n "$XVFB" ]; then
            if ! command -v xvfb-run >/dev/null; then
                echo "   (xvfb-run missing: not run)"
                continue
            fi
            run_xvfb
        else
            vx_run "$pf" "$([ "$pf" = wine ] && echo 60 || echo 20)"
        fi
        if [ "$rc" = 0/1 ]; then
            [ "$VX_RC" = 0 ] || [ "$VX_RC" = 1 ]
            vx_check "exit code 0 or 1" $? "got $VX_RC"
        else
            vx_expect_rc "$rc"
        fi
        [ "$ko" = - ] || vx_expect_only_lines KO.txt "$EOL" "$ko"
        [ "$checks" = - ] || eval "$checks"
    done 3<<<"$CASES"
    cd "$VX_TMP" || exit 1
}

# The spooler around silent COM runs, with Wine's real service manager. Services live as long
# as the wineserver: one stays up across the runs of this table. The "next_start" row finds
# what the "killed" row left: a stopped spooler and the stop record.
spooler_state() { timeout 30 wine sc query spooler 2>/dev/null | grep -o 'RUNNING\|STOPPED\|PENDING' | head -1; }
record_present() { timeout 30 wine reg query 'HKLM\SOFTWARE\vxflash' /v SpoolerStoppedBy >/dev/null 2>&1; }
spooler_table() {
    local name before ending after record trace pid state got
    wineserver -p 300 >/dev/null 2>&1
    # case | spooler before (- as left) | how the run ends | spooler after | record after | trace
    while IFS='|' read -r name before ending after record trace; do
        read -r name before ending after record <<<"$name $before $ending $after $record"
        trace=$(trim "$trace")
        vx_case "wine-spooler_$name"
        ini '[GENERAL]\r\nFILENAME=fw.bin\r\nFLASHMODE=2\r\nTRACE=1\r\n[PORT SETTING]\r\nPORT=COM9\r\n'
        case $before in
        RUNNING) timeout 60 wine net start spooler >/dev/null 2>&1 ;;
        STOPPED) timeout 60 wine net stop spooler >/dev/null 2>&1 ;;
        esac
        if [ "$ending" = killed ]; then
            # Killed in the pause after the stop, as a deployment's time-out would do it.
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" DISPLAY='' \
                wine "$VX_BUILD_WINDOWS/vxflash.exe" >/dev/null 2>&1 &
            pid=$!
            for _ in $(seq 40); do [ "$(spooler_state)" = STOPPED ] && break; sleep 0.25; done
            kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        else
            vx_run wine 60
        fi
        state=$(spooler_state)
        [ "$state" = "$after" ]
        vx_check "spooler $after" $? "got $state"
        if record_present; then got=yes; else got=no; fi
        [ "$got" = "$record" ]
        vx_check "stop record: $record" $? "got $got"
        vx_expect_trace "$trace"
    done <<'ROWS'
stopped_before | STOPPED | ends   | STOPPED | no  | [FLASH][Winmain] Spooler Service not running: left as found
ordinary       | RUNNING | ends   | RUNNING | no  | [FLASH][Winmain] Spooler Service Restarted !
killed         | RUNNING | killed | STOPPED | yes | [FLASH][Winmain] Start - Ini Pathname
next_start     | -       | ends   | RUNNING | no  | [FLASH][Winmain] Spooler Service stopped by an earlier run: restarted
ROWS
    timeout 60 wine net start spooler >/dev/null 2>&1
}

for pf in "${platforms[@]}"; do
    EOL='\n'
    if [ "$pf" = wine ]; then
        EOL='\r\n'
        . "$VX_SRC/scripts/lib/wine-env.sh"
        trap 'vx_cleanup; vx_wine_prefix_drop' EXIT
        vx_wine_ensure || { vx_check "a Wine prefix" 1; continue; }
        # A desktop process left by an earlier test may hold a display: start from a quiet prefix.
        wineserver -k >/dev/null 2>&1
        timeout 30 wineserver -w >/dev/null 2>&1
    fi
    run_table
    [ "$pf" = wine ] && spooler_table
done

vx_finish
