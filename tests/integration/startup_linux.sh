#!/usr/bin/env bash
# The Linux vxflash at start-up: result files of the failure cases, flash.ini write-backs
# byte for byte, and a loop of hand-edited files gone bad (garbage, huge lines, directories,
# pipes, unreadable files) that must neither crash nor hang, also under the sanitizers.
set -u
ROOT=${VX_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
LIN=${VX_BUILD_LINUX:-$ROOT/build/linux}
ASAN=${VX_BUILD_ASAN:-$ROOT/build/linux-asan}
bin=$LIN/vxflash
[ -x "$bin" ] || { echo "skip: $bin not built"; exit 77; }
mes=$LIN/flash.mes
[ -f "$mes" ] || mes=$ROOT/res/flash.mes

work=$(mktemp -d "${TMPDIR:-/tmp}/vxstartl.XXXXXX")
cleanup() {
    chmod -R u+rwx "$work" 2>/dev/null
    [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL [$case_name] $*"
    failures=$((failures + 1))
}

new_case() {  # a fresh empty directory, made current
    case_name=$1
    dir=$work/$1
    mkdir -p "$dir" && cd "$dir" || exit 1
}

run() {  # [program] in the current directory, stdin closed; sets rc, output in $out
    local prog=${PROG:-$bin}
    out=$work/$case_name.out
    timeout 20 "$prog" "$@" </dev/null >"$out" 2>&1
    rc=$?
    [ $rc -ne 124 ] || fail "timed out"
    [ $rc -lt 128 ] || fail "killed by signal $((rc - 128))"
    if grep -qE 'ERROR: AddressSanitizer|runtime error:|LeakSanitizer' "$out"; then
        fail "sanitizer report:"
        head -20 "$out"
    fi
}

expect_rc() { [ "$rc" -eq "$1" ] || fail "exit code $rc, expected $1"; }
expect_absent() {
    local f
    for f in "$@"; do [ ! -e "$f" ] || fail "$f exists"; done
}
# expect_ko TEXT: KO.txt is exactly one time-stamped line with TEXT.
expect_ko() {
    [ -f KO.txt ] || { fail "no KO.txt"; return; }
    local want
    want=$(printf '%s\n' "$1")
    if [ "$(wc -l <KO.txt)" -ne 1 ] ||
        ! grep -qxE "\[[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\]$(printf '%s' "$want" | sed 's/[][\.*^$]/\\&/g')" KO.txt; then
        fail "KO.txt is: $(od -c KO.txt | head -3)"
    fi
}
# expect_file NAME BYTES: NAME holds exactly BYTES (printf %b escapes).
expect_file() {
    local want=$work/want
    printf '%b' "$2" >"$want"
    cmp -s "$1" "$want" || fail "$1 differs: $(od -c "$1" | head -8)"
}

# ---- the failure table of start-up ----
new_case empty
echo old >KO.txt
echo old >OK.txt
run
expect_rc 0
expect_ko "[Error 1] flash.ini not found."
expect_absent OK.txt FlashTrace.dbg

new_case no_mes
printf '[GENERAL]\r\nFILENAME=a.bin\r\nTRACE=1\r\n' >flash.ini
run
expect_rc 0
expect_ko "[Error 2] file flash.mes not found."
expect_absent FlashTrace.dbg

new_case lpt_silent
printf '[GENERAL]\r\nFILENAME=a.bin\r\nFLASHMODE=2\r\n[PORT SETTING]\r\nPORT=LPT1\r\n' >flash.ini
cp "$mes" flash.mes
run
expect_rc 0
expect_ko "[Error 11] LPT Invalid port type"
[ ! -s "$out" ] || fail "silent run printed: $(head -3 "$out")"

new_case lpt_interactive
printf '[GENERAL]\r\nFILENAME=a.bin\r\n[PORT SETTING]\r\nPORT=LPT2\r\n' >flash.ini
cp "$mes" flash.mes
run
expect_rc 0
expect_ko "[Error 11] LPT Invalid port type"
grep -q 'Parallel' "$out" || fail "no refusal text shown: $(head -3 "$out")"

new_case deep_directory  # too long for a 260-character path: flash.ini is out of reach
deep=$dir/$(printf 'd%.0s' {1..120})/$(printf 'e%.0s' {1..120})
mkdir -p "$deep" && cd "$deep" || exit 1
printf '[GENERAL]\r\nFILENAME=a\r\n' >flash.ini
cp "$mes" flash.mes
run
expect_rc 0
expect_ko "[Error 1] flash.ini not found."
cd "$dir" || exit 1

new_case trace_first_line
printf '[GENERAL]\r\nFILENAME=a.bin\r\nTRACE=1\r\nFLASHMODE=1\r\n[PORT SETTING]\r\nPORT=USB01\r\n' >flash.ini
cp "$mes" flash.mes
echo "earlier trace" >FlashTrace.dbg
run
expect_rc 1  # unattended: no USB printer, a failure
head -1 FlashTrace.dbg | grep -qxE "\[[0-9:]{8}\]\[FLASH\]\[Winmain\] Start - Ini Pathname = $dir/flash.ini " ||
    fail "first trace line: $(head -1 FlashTrace.dbg)"
grep -q 'NOT Interactive Mode' FlashTrace.dbg || fail "no mode line"
grep -q 'Spooler' FlashTrace.dbg && fail "a spooler line on Linux"
grep -qF '[Error 5] Printer OFF - portname USB01.' "$out" || fail "the failure is not shown"
grep -q 'ProductVersion' FlashTrace.dbg || fail "no version line in the trace"

# ---- write-backs keep every other byte ----
new_case writeback_com1  # no FILENAME, no PORT: read_port_settings adds PORT=COM1 only
ini='; hand-written\r\n\r\n[ General ]\r\n  TRACE = 1 \r\n\tFLASHMODE=2\n\n[Other]\nx = 1'
printf '%b' "$ini" >flash.ini
cp "$mes" flash.mes
run
expect_rc 1  # interactive: FLASHMODE is not read without FILENAME
expect_file flash.ini "$ini\r\n[PORT SETTING]\r\nPORT=COM1\r\n"
expect_absent FlashTrace.dbg

new_case writeback_usb01  # FILENAME but no PORT: read_config adds PORT=USB01 in its section
ini='[GENERAL]\r\nFILENAME = fw.bin\r\nFLASHMODE=2\r\n\r\n[port setting]\r\n; speed\r\nBAUD=4800\r\n\r\n[Z]\r\n'
printf '%b' "$ini" >flash.ini
cp "$mes" flash.mes
run
expect_file flash.ini '[GENERAL]\r\nFILENAME = fw.bin\r\nFLASHMODE=2\r\n\r\n[port setting]\r\n; speed\r\nBAUD=4800\r\nPORT=USB01\r\n\r\n[Z]\r\n'

new_case writeback_empty_port  # "PORT=" counts as missing and is replaced in place
ini='[PORT SETTING]\r\n   PORT =   \r\nBAUD=9600'
printf '%b' "$ini" >flash.ini
cp "$mes" flash.mes
run
expect_file flash.ini '[PORT SETTING]\r\nPORT=COM1\r\nBAUD=9600'

# ---- bad input: nothing may crash or hang ----
garbage() { head -c "$1" /dev/urandom; }
long_line() { printf '[GENERAL]\r\nFILENAME='; head -c 1000000 /dev/zero | tr '\0' 'x'; printf '\r\n'; }

bad_case() {  # name, set-up commands (run in the case directory)
    new_case "$1"
    eval "$2"
    run
    case $rc in 0 | 1) ;; *) fail "exit code $rc" ;; esac
}

bad_inputs() {
    local p=$1
    bad_case "${p}garbage_ini" 'garbage 200000 >flash.ini; cp "$mes" flash.mes'
    bad_case "${p}garbage_mes" 'printf "[GENERAL]\r\nFILENAME=a\r\nFLASHMODE=1\r\n" >flash.ini; garbage 200000 >flash.mes'
    bad_case "${p}garbage_both" 'garbage 5000 >flash.ini; garbage 5000 >flash.mes'
    bad_case "${p}long_lines" 'long_line >flash.ini; { printf "28,"; head -c 1000000 /dev/zero | tr "\0" "y"; } >flash.mes'
    bad_case "${p}long_id_field" 'printf "[GENERAL]\r\nFILENAME=a\r\n" >flash.ini; head -c 500000 /dev/zero | tr "\0" "7" >flash.mes'
    bad_case "${p}empty_files" ': >flash.ini; : >flash.mes'
    bad_case "${p}dir_ini" 'mkdir flash.ini; cp "$mes" flash.mes'
    bad_case "${p}dir_mes" 'printf "[GENERAL]\r\nFILENAME=a\r\nFLASHMODE=2\r\n" >flash.ini; mkdir flash.mes'
    bad_case "${p}fifo_ini" 'mkfifo flash.ini; cp "$mes" flash.mes'
    bad_case "${p}fifo_mes" 'printf "[GENERAL]\r\nFILENAME=a\r\n" >flash.ini; mkfifo flash.mes'
    # a pipe named like the trace: the run goes on without one
    bad_case "${p}fifo_trace" 'printf "[GENERAL]\r\nFILENAME=a.bin\r\nTRACE=1\r\nFLASHMODE=1\r\n[PORT SETTING]\r\nPORT=USB01\r\n" >flash.ini; cp "$mes" flash.mes; mkfifo FlashTrace.dbg'
    expect_rc 1
    [ -p FlashTrace.dbg ] || fail "FlashTrace.dbg is no longer the pipe"
    bad_case "${p}fifo_trace_silent" 'printf "[GENERAL]\r\nFILENAME=a.bin\r\nTRACE=1\r\nFLASHMODE=2\r\n[PORT SETTING]\r\nPORT=/dev/vx-no-such-port\r\n" >flash.ini; cp "$mes" flash.mes; mkfifo FlashTrace.dbg'
    bad_case "${p}unreadable" 'printf "[GENERAL]\r\nFILENAME=a\r\n" >flash.ini; cp "$mes" flash.mes; chmod 000 flash.ini flash.mes'
    bad_case "${p}readonly_dir" 'printf "[GENERAL]\r\nFILENAME=a\r\nTRACE=1\r\nFLASHMODE=2\r\n" >flash.ini; cp "$mes" flash.mes; chmod 444 flash.ini; chmod 555 .'
    bad_case "${p}utf16_ini" 'printf "\xff\xfe[\0G\0]\0" >flash.ini; cp "$mes" flash.mes'
    bad_case "${p}formats_in_mes" 'printf "[GENERAL]\r\nFILENAME=a\r\n[PORT SETTING]\r\nPORT=LPT1\r\n" >flash.ini; printf "39,%%s%%s%%n%%n\r\n47,%%999999999d%%s" >flash.mes'
}

bad_inputs ""
if [ -x "$ASAN/vxflash" ]; then
    PROG=$ASAN/vxflash bad_inputs "asan_"
else
    echo "note: $ASAN/vxflash not built; sanitizer loop skipped"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all start-up cases passed"
