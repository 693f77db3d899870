#!/usr/bin/env bash
# vxflash.exe's port setup page and toolkit launch under Wine and Xvfb, driven from a second
# process by setup_driver.exe. COM1..COM3 are pseudo-terminals (COM2 held exclusively by
# another process), COM4..COM10 do not exist. Runs in a Wine prefix of its own, which it
# drops at the end.
set -u
ROOT=${VX_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
WIN=${VX_BUILD_WINDOWS:-$ROOT/build/windows}
exe=$WIN/vxflash.exe
driver=$WIN/setup_driver.exe
mes=$WIN/flash.mes
[ -f "$mes" ] || mes=$ROOT/res/flash.mes
for f in "$exe" "$driver"; do [ -f "$f" ] || { echo "skip: $f not built"; exit 77; }; done
for t in wine Xvfb python3 capsh; do
    command -v $t >/dev/null || { echo "skip: $t missing"; exit 77; }
done

# A port held with TIOCEXCL refuses other opens only to processes without CAP_SYS_ADMIN;
# run the whole test (and so the Wine server it starts) without it.
if [ -z "${VX_SETUP_NOADMIN:-}" ] && capsh --has-p=cap_sys_admin 2>/dev/null; then
    exec env VX_SETUP_NOADMIN=1 capsh --drop=cap_sys_admin -- "$0" "$@"
fi

. "$ROOT/scripts/lib/wine-env.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/vxsetupw.XXXXXX")
xvfb_pid=""
pty_pid=""
cleanup() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
    [ -n "$pty_pid" ] && kill "$pty_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    vx_wine_prefix_drop
    [ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

failures=0
case_name=setup
fail() {
    echo "FAIL [$case_name] $*"
    failures=$((failures + 1))
}

# ---- display, prefix, ports ----
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(cat "$work/display")

vx_wine_prefix "$work/prefix" || { echo "no Wine prefix"; exit 1; }
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null

python3 "$ROOT/tests/integration/lib/pty_ports.py" "$work/ports" COM1 COM2:held COM3 &
pty_pid=$!
for _ in $(seq 50); do [ -s "$work/ports" ] && break; sleep 0.1; done
[ -s "$work/ports" ] || { echo "no pseudo-terminals"; exit 1; }

# Wine maps COM ports from this key when its server starts. COM4..COM10 name a directory,
# which no program can open as a device: they must be defined here, or Wine would give the
# machine's own serial ports those names.
mkdir -p "$work/no-device"
{
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $(seq 1 10); do
        path=$(awk -v p="COM$n" '$1 == p { print $2 }' "$work/ports")
        printf '"COM%d"="%s"\r\n' "$n" "${path:-$work/no-device}"
    done
    # Wine's own desktop window stands in for a window manager.
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="Default"\r\n'
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"Default"="1024x768"\r\n'
} >"$work/setup.reg"
vx_wine_run 60 regedit /S "$(winepath -w "$work/setup.reg" 2>/dev/null)" >/dev/null 2>&1
wineserver -k >/dev/null 2>&1
timeout 30 wineserver -w

caption=$(awk -F, '$1 == "31" { sub(/^[^,]*,/, ""); sub(/\r$/, ""); print; exit }' "$mes")

# new_case NAME INI: a fresh directory with flash.mes and this flash.ini, made current.
new_case() {
    case_name=$1
    dir=$work/$1
    mkdir -p "$dir" && cd "$dir" || exit 1
    cp "$mes" flash.mes
    printf '%b' "$2" >flash.ini
}

# sheet ARGS -- COMMANDS: runs vxflash.exe ARGS, drives its sheet with COMMANDS (the
# driver's output in driver.out), waits for the program; sets rc.
sheet() {
    local args=()
    while [ "$1" != "--" ]; do args+=("$1"); shift; done
    shift
    vx_wine_run 90 "$exe" "${args[@]}" >"$dir/exe.out" 2>&1 &
    local pid=$!
    vx_wine_run 60 "$driver" "$caption" 40 "$@" 2>"$dir/driver.err" | tr -d '\r' >"$dir/driver.out"
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "driver failed: $(cat "$dir/driver.err")"
    wait "$pid"
    rc=$?
    [ $rc -ne 124 ] || fail "vxflash.exe timed out"
}

# drive COMMANDS: drives the sheet of a program already running (output appended).
drive() {
    vx_wine_run 60 "$driver" "$caption" 40 "$@" 2>"$dir/driver.err" | tr -d '\r' >>"$dir/driver.out"
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail "driver failed: $(cat "$dir/driver.err")"
}

expect_rc() { [ "$rc" -eq "$1" ] || fail "exit code $rc, expected $1"; }
expect_line() {  # a line the driver printed
    grep -qxF -- "$1" "$dir/driver.out" || fail "driver output lacks '$1':
$(cat "$dir/driver.out")"
}

# expect_ini PRINTF-TEXT: flash.ini holds exactly these lines, each ended by CR LF. Wine's
# profile functions rewrite the whole file (Windows edits it in place), so the cases start
# from files already in that form; a difference is shown key by key.
ini_keys() {
    python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read().decode("latin-1")
for raw in data.replace("\r\n", "\n").replace("\r", "\n").split("\n"):
    s = raw.strip()
    if not s:
        continue
    if s.startswith("["):
        print(s[1:s.rindex("]")].strip().upper() if "]" in s else s)
    else:
        k, eq, v = s.partition("=")
        print(f"  {k.strip()}={v.strip()}" if eq else f"  {k.strip()}")
PY
}
expect_ini() {
    printf '%b' "$1" | sed 's/$/\r/' >"$dir/want.ini"
    cmp -s "$dir/want.ini" flash.ini && return
    diff <(ini_keys "$dir/want.ini") <(ini_keys flash.ini) >"$dir/ini.diff"
    fail "flash.ini differs (want / got):
$(cat "$dir/ini.diff")
$(od -c flash.ini | head -12)"
}
expect_bytes() {
    printf '%b' "$1" >"$dir/want.bin"
    cmp -s "$dir/want.bin" flash.ini || fail "flash.ini changed: $(od -c flash.ini | head -8)"
}

# ---- the setup page as it opens: COM2 (configured) is held, so COM1 is shown ----
new_case open_page '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=COM2\r\nBAUD=14400\r\nSTOP=1\r\n'
vx_wine_run 90 "$exe" >"$dir/exe.out" 2>&1 &
exe_pid=$!
drive pages show 1 dump buttons
expect_line "pages 3"
expect_line "box 1022 checked enabled"
expect_line "box 1023 unchecked enabled"
expect_line "box 1024 unchecked disabled"
expect_line "list 1001 enabled sel=0 text=COM1 [COM1|COM3]"
expect_line "list 1005 enabled sel=0 text=115200 [115200|57600|38400|19200|9600|4800|2400|1200]"
expect_line "list 1002 enabled sel=1 text=8 [7|8]"
expect_line "list 1003 enabled sel=0 text=NONE [NONE|ODD|EVEN]"
expect_line "list 1004 enabled sel=0 text=1 [1|2]"
expect_line "list 1006 disabled sel=-1 text= []"
expect_line "list 1025 disabled sel=-1 text= []"
expect_line "buttons Close cancel disabled"
if command -v xwd >/dev/null && command -v convert >/dev/null; then
    xwd -root -silent | convert xwd:- "$work/setup_page.png" 2>/dev/null ||
        fail "no screenshot"
    [ -n "${VX_SHOTS:-}" ] && cp "$work/setup_page.png" "$VX_SHOTS/"
fi
# Left with OK unchanged: the held port's replacement, 115200 and STOP=0 are written.
drive show 1 ok
wait "$exe_pid"
rc=$?
expect_rc 1
expect_ini '[GENERAL]\nFILENAME=fw.bin\n[PORT SETTING]\nPORT=COM1\nBAUD=115200\nSTOP=0\nSIZE=8\nPARITY=0\n'

# ---- every list chosen, then OK ----
new_case choose '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=COM1\r\nBAUD=9600\r\n'
sheet -- show 1 choose 1001 COM3 choose 1005 19200 choose 1002 7 choose 1003 EVEN \
    choose 1004 2 dump ok
expect_line "list 1001 enabled sel=1 text=COM3 [COM1|COM3]"
expect_rc 1
expect_ini '[GENERAL]\nFILENAME=fw.bin\n[PORT SETTING]\nPORT=COM3\nBAUD=19200\nSIZE=7\nPARITY=2\nSTOP=2\n'

# ---- USB chosen with no USB printer: the old name stays; the lists follow the boxes ----
new_case usb_box '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=COM3\r\nBAUD=4800\r\n'
sheet -- show 1 choose 1005 9600 click 1023 click 1023 dump ok
expect_line "box 1022 unchecked enabled"
expect_line "box 1023 checked enabled"
expect_line "list 1001 disabled sel=1 text=COM3 [COM1|COM3]"
expect_line "list 1005 disabled sel=4 text=9600 [115200|57600|38400|19200|9600|4800|2400|1200]"
expect_line "list 1006 enabled sel=-1 text= []"
expect_rc 1
expect_ini '[GENERAL]\nFILENAME=fw.bin\n[PORT SETTING]\nPORT=COM3\nBAUD=4800\nSIZE=8\nPARITY=0\nSTOP=1\n'

# ---- and back to COM: the serial lists come back, and so does the choice ----
new_case com_again '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=USB01\r\n'
sheet -- show 1 dump click 1022 dump ok
expect_line "list 1001 enabled sel=0 text=COM1 [COM1|COM3]"
expect_rc 1
expect_ini '[GENERAL]\nFILENAME=fw.bin\n[PORT SETTING]\nPORT=COM1\nBAUD=9600\nSIZE=8\nPARITY=0\nSTOP=0\n'

# ---- toolkit launch: its key in the 32-bit registry view wins; no setup page ----
toolkit_key='HKLM\SOFTWARE\Norvane\Vx3EToolKit\InstallOption'
reg_set() {  # VIEW NAME TYPE DATA
    vx_wine_run 30 reg add "$toolkit_key" /v "$2" /t "$3" /d "$4" /f "/reg:$1" >/dev/null 2>&1 ||
        fail "reg add $2 failed"
}
reg_clear() {
    local view
    for view in 32 64; do
        vx_wine_run 30 reg delete 'HKLM\SOFTWARE\Norvane' /f "/reg:$view" >/dev/null 2>&1
    done
}

# Only the 64-bit view holds a key: it is not the toolkit's, flash.ini stays as it is.
new_case toolkit_64bit_view '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=COM1\r\n'
reg_set 64 FlashPort REG_SZ COM3
sheet /tb -- pages close
expect_rc 1
expect_line "pages 2"
expect_bytes '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=COM1\r\n'
reg_clear

new_case toolkit '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=COM1\r\nBAUD=4800\r\n'
reg_set 32 FlashPort REG_SZ COM3
reg_set 32 FlashComBaudrate REG_DWORD 19200
reg_set 32 FlashComParity REG_SZ EVEN
reg_set 32 FlashComStopBits REG_DWORD 2
reg_set 32 FlashComDataBits REG_DWORD 7
sheet /tb -- pages kinds close
expect_rc 1
expect_line "pages 2"
expect_line "page 0 other"
expect_line "page 1 other"
expect_ini '[GENERAL]\nFILENAME=fw.bin\n[PORT SETTING]\nPORT=COM3\nBAUD=19200\nSIZE=7\nPARITY=2\nSTOP=2\n'

# "******": no port assigned, flash.ini is not touched at all.
new_case toolkit_no_port '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=COM1\r\nBAUD=4800\r\n'
reg_set 32 FlashPort REG_SZ '******'
sheet /tb -- pages close
expect_rc 1
expect_line "pages 2"
expect_bytes '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=COM1\r\nBAUD=4800\r\n'

# A baud rate stored as text: the serial values are refused as a whole, the port is taken.
new_case toolkit_text_baud '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=COM1\r\nBAUD=4800\r\n'
reg_set 32 FlashPort REG_SZ COM3
reg_set 32 FlashComBaudrate REG_SZ 19200
sheet /tb -- pages close
expect_rc 1
expect_ini '[GENERAL]\nFILENAME=fw.bin\n[PORT SETTING]\nPORT=COM3\nBAUD=4800\n'

# Without "/tb" (the switch is case-sensitive) the key is not read, and the setup page is
# there; leaving it writes the page's values.
new_case no_switch '[GENERAL]\r\nFILENAME=fw.bin\r\n[PORT SETTING]\r\nPORT=COM1\r\n'
sheet /TB -- pages kinds close
expect_rc 1
expect_line "pages 3"
expect_line "page 1 setup"
expect_ini '[GENERAL]\nFILENAME=fw.bin\n[PORT SETTING]\nPORT=COM1\nBAUD=9600\nSIZE=8\nPARITY=0\nSTOP=0\n'
reg_clear

cd "$work" || exit 1
if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all setup page and toolkit checks passed"
