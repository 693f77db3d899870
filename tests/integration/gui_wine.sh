#!/usr/bin/env bash
# The property sheet of vxflash.exe under Wine and Xvfb, driven from another process by
# guidriver.exe, against printer-sim on a pty linked as a COM port: an interactive download
# started from the toolbar, by a copy of the exe with DLLs planted beside it that must not
# load; unattended runs that succeed (past a forged WM_CLOSE) and fail; leaving the page
# during a download, answered No (the download goes on) and Yes (the procedure stops, the port
# is released, no further bank reaches the printer), also while the printer takes no more
# bytes. Screenshots of the pages are saved in
# the Windows build folder (screenshots/).
. "$(dirname "$0")/lib/harness.sh"
vx_require

EXE=$VX_BUILD_WINDOWS/vxflash.exe
DRIVER=$VX_BUILD_WINDOWS/guidriver.exe
SHOTS=$VX_BUILD_WINDOWS/screenshots
for f in "$EXE" "$DRIVER"; do
    [ -f "$f" ] || { echo "SKIP: $f not built"; exit 77; }
done
for tool in wine Xvfb xwd convert; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

# ---- a display and a Wine prefix of our own ----
XVFB_PID=""
EXE_PID=""
gui_cleanup() {
    [ -n "$EXE_PID" ] && kill "$EXE_PID" 2>/dev/null
    # Inside the display's lifetime, or Wine's leftovers complain about a lost X connection.
    [ -n "${WINEPREFIX:-}" ] && { wineserver -k; timeout 30 wineserver -w; } >/dev/null 2>&1
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    vx_cleanup
}
trap gui_cleanup EXIT

for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$VX_TMP/xvfb.log" 2>&1 &
    XVFB_PID=$!
    sleep 1
    if kill -0 "$XVFB_PID" 2>/dev/null; then
        export DISPLAY=":$n"
        break
    fi
    XVFB_PID=""
done
[ -n "$XVFB_PID" ] || { echo "no display: Xvfb did not start"; cat "$VX_TMP/xvfb.log"; exit 1; }

export WINEPREFIX=$VX_TMP/wineprefix WINEDEBUG=-all
echo "(making a Wine prefix in $WINEPREFIX)"
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" DISPLAY= timeout 180 wineboot -i \
    >/dev/null 2>&1
timeout 60 wineserver -w
# Windows shows top-level windows without a window manager only on Wine's virtual desktop.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
# Windows maps the sheet's font (MS Shell Dlg) to a face with the metrics of the pages' MS Sans
# Serif; Wine's default (Tahoma) is narrower and would cut the pages off on the right.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'MS Shell Dlg' /d 'MS Sans Serif' /f >/dev/null 2>&1
timeout 60 wineserver -w
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null ||
    echo "note: Wine's fonts (package fonts-wine) missing; texts may not show"
mkdir -p "$SHOTS"
VX_WINE_LINK="$WINEPREFIX/dosdevices/$(echo "$VX_WINE_COM" | tr 'A-Z' 'a-z')"

# ---- helpers ----

# gui_start [SECS]: vxflash.exe (or GUI_EXE, with GUI_DLL_OVERRIDES) in the run directory, in
# the background, on the simulator.
gui_start() {
    sed -i "s|@PORT@|$VX_WINE_COM|" flash.ini
    ln -sfn "$SIM_PTY" "$VX_WINE_LINK"
    WINEDLLOVERRIDES=${GUI_DLL_OVERRIDES:-} VX_MODEM_FILE="$VX_RUN/modem" LD_PRELOAD="$SHIM" \
        timeout -k 5 "${1:-120}" wine "${GUI_EXE:-$EXE}" >run.out 2>&1 &
    EXE_PID=$!
}

# DLLs the exe uses that Windows would look for beside it (all but its known system DLLs):
# each gets a planted copy there, which marks its own loading.
PLANTED="version.dll winspool.drv comctl32.dll comdlg32.dll setupapi.dll user32.dll gdi32.dll"
plant_dlls() {  # folder
    local dll
    for dll in $PLANTED; do cp "$VX_BUILD_WINDOWS/planted_dll.dll" "$1/$dll"; done
}

# gui_wait_exit [SECS]: the program's exit code in VX_RC; a program still running after SECS
# (default 60) is ended and counts as timed out (124).
gui_wait_exit() {
    local i
    for i in $(seq $((${1:-60} * 10))); do
        kill -0 "$EXE_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$EXE_PID" 2>/dev/null && kill -TERM "$EXE_PID" 2>/dev/null
    wait "$EXE_PID"
    VX_RC=$?
    EXE_PID=""
    echo "   (exit $VX_RC)"
}

# drive COMMAND...: guidriver's output lines; non-zero when a command failed.
drive() {
    wine "$DRIVER" "$@" 2>>driver.err | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

expect_eq() {  # description, got, expected
    [ "$2" = "$3" ]
    vx_check "$1" $? "got: [$2]"$'\n'"expected: [$3]"
}

expect_drive() {  # description, expected output, command...
    local what=$1 want=$2 got
    shift 2
    got=$(drive "$@")
    expect_eq "$what" "$got" "$want"
}

# shot NAME: the sheet (and a box over it) as a PNG in the build folder.
shot() {
    local x y w h
    read -r x y w h < <(drive rect)
    if [ -n "${h:-}" ] && [ "$w" -gt 0 ]; then
        xwd -root -silent | convert xwd:- -crop "$((w + 8))x$((h + 8))+$x+$y" +repage "$SHOTS/$1.png"
    else
        xwd -root -silent | convert xwd:- "$SHOTS/$1.png"
    fi
    echo "   screenshot $SHOTS/$1.png"
}

# Banks the printer has acknowledged so far.
banks_done() { grep -c 'received sum=' transcript.txt 2>/dev/null; }

# Processes other than the simulator that hold the pty's slave side open.
pty_holders() {
    local fd pid
    for fd in /proc/[0-9]*/fd/*; do
        [ "$(readlink "$fd" 2>/dev/null)" = "$SIM_PTY" ] || continue
        pid=${fd#/proc/}
        pid=${pid%%/*}
        [ "$pid" = "$SIM_PID" ] || echo "$pid"
    done | sort -u | tr '\n' ' '
}

M25="Download finished; line closed"
M36="File sent successfully"
TITLE="VX3E / VX3plus / KD5 firmware download"

# ---- the exe loads only system DLLs ----
imports=$(x86_64-w64-mingw32-objdump -p "$EXE" 2>/dev/null | sed -n 's/^[[:space:]]*DLL Name: //p' |
    tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
[ "$imports" = "advapi32.dll kernel32.dll msvcrt.dll " ]
vx_check "at start only known system DLLs load: kernel32, the C runtime, advapi32" $? \
    "imports: $imports"

# ---- interactive: a download started with the toolbar's second button, by a copy of the exe
# with DLLs planted beside it and the native copy preferred as Windows would ----
vx_case gui-interactive
vx_image --model 3 --kind fw --pages 16 --fw-end 0x2FFFF --seed 11  # firmware: flash pages 4-11
vx_ini FILENAME=image.bin SEND_FW=1 FLASHMODE=0
vx_sim_start --model 3 --line-rate 115200 --exit-after-downloads 1
mkdir bin
cp "$EXE" bin/
plant_dlls bin
plant_dlls .  # the current directory too
GUI_EXE=$VX_RUN/bin/vxflash.exe GUI_DLL_OVERRIDES="$(echo $PLANTED | sed 's/\.dll//g; s/ /,/g')=n,b" \
    gui_start 150
expect_drive "the sheet opens on the main page" "sheet
$TITLE
0" sheet:60 title page
expect_drive "initial texts, check boxes and toolbar" "No Connection
Printer connected to $VX_WINE_COM
VX3:
1
1
0
2" text:1012 text:1023 text:1026 checked:1013 enabled:1013 checked:1015 toolbar
expect_drive "BOOT disables the other boxes and enables them again" "0
1
1" click:1015 sleep:500 enabled:1013 click:1015 sleep:500 enabled:1013 checked:1013
drive command:2 >/dev/null
expect_drive "the transfer line names the firmware; the open button is off" "Sending firmware...
0" wait-text:30:1019:Sending button:1
# In the second bank the pages bar holds the first bank and the bank bar runs through the
# second. One driver call sees both: on a loaded machine a second Wine start can take longer
# than the bank itself.
drive wait-text:30:1006:"Bank 1" wait-pos:5:1009:4 wait-pos:5:1002:4 >/dev/null
vx_check "the bars follow the transfer" $? "$(tail -1 driver.err)"
shot gui-main-page
drive wait-text:90:1007:"$M36" >/dev/null
vx_check "the computer status ends with message 36" $? "$(tail -1 driver.err)"
drive wait-text:10:1008:Ready >/dev/null
expect_drive "the open button is back once the procedure ended" "1" sleep:1000 button:1
expect_drive "texts and bars at the end" "$M25
$M36
Ready
First page 4
Last page 11
VX3Plus_:
Sending firmware...
0 32
0 8
0" text:1012 text:1007 text:1008 text:1010 text:1011 text:1026 text:1019 range:1002 range:1009 \
    pos:1009
for i in $(seq 50); do kill -0 "$SIM_PID" 2>/dev/null || break; sleep 0.1; done
vx_sim_stop
vx_expect_pages image.bin 4 "4-11"
drive select:1 wait-page:10:1 >/dev/null
shot gui-setup-page
drive select:2 wait-page:10:2 >/dev/null
expect_drive "the about page shows the version resource" \
    "ProductVersion 6, 0, 0, 5    SpecialBuild x86 001" text:1017
shot gui-about-page
drive press:ok gone:20 >/dev/null
gui_wait_exit
vx_expect_rc 1
vx_expect_trace "[FLASH][Winmain] Start with Interactive Mode" \
    "[FLASH][main_page] #### Flash ProductVersion 6, 0, 0, 5 # SpecialBuild x86 001 #####" \
    "[FLASH][system] OS Version=" "[FLASH][main_page] Create Send_Thread" \
    "[FLASH][send_thread] Send Thread Start !" "[Cls_flash][download_com] END"
vx_expect_no_file OK.txt
vx_expect_no_file KO.txt
loaded=$(ls -- bin/*.loaded ./*.loaded 2>/dev/null | tr '\n' ' ')
[ -z "$loaded" ]
vx_check "no planted DLL was loaded" $? "loaded: $loaded"

# ---- unattended: starts by itself, cannot be cancelled, ends the process with 0; a WM_CLOSE
# "success" posted by another program during the download is only a close request ----
vx_case gui-unattended-ok
vx_image --model 3 --kind fw --pages 16 --fw-end 0x2FFFF --seed 12  # flash pages 4-11
vx_ini FILENAME=image.bin SEND_FW=1 FLASHMODE=1
vx_sim_start --model 3 --line-rate 115200 --exit-after-downloads 1
# A running spooler, stopped for the run and started again at its end (services live as
# long as the Wine server: keep it up meanwhile).
wineserver -p 120 >/dev/null 2>&1
timeout 60 wine net start spooler >/dev/null 2>&1
gui_start 120
expect_drive "one page, no toolbar, boxes fixed" "sheet
-1
1
0" sheet:60 toolbar checked:1013 enabled:1013
drive press:cancel sleep:500 >/dev/null
expect_drive "cancel is refused" "0" page
drive wait-text:30:1019:Sending close:1 sleep:1000 >/dev/null
expect_drive "a forged WM_CLOSE(1) neither ends the run nor writes OK.txt" "0" page
vx_expect_no_file OK.txt
gui_wait_exit
vx_sim_stop
vx_expect_rc 0
vx_expect_file OK.txt
vx_expect_no_file KO.txt
vx_expect_pages image.bin 4 "4-11"
vx_expect_trace "[FLASH][Winmain] Spooler Service Stopped" \
    "[FLASH][Winmain] Start with NOT Interactive Mode" \
    "[FLASH][main_page] Create Send_Thread" \
    "[FLASH][main_page] WM_CLOSE without a result: close request" \
    "[Cls_flash][download_com] END" "[FLASH][main_page] WM_CLOSE !" \
    "[FLASH][main_page] Spooler Service Restarted !" "[FLASH][main_page] ExitProcess(0) "
! grep -q "PSN_KILLACTIVE" FlashTrace.dbg
vx_check "the refused cancel is not traced" $?

# ---- unattended failure: exit code 1, the error line in KO.txt ----
vx_case gui-unattended-ko
vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed 13
vx_ini FILENAME=image.bin SEND_FW=1 FLASHMODE=1
vx_sim_start --model 3 --fault 0:07
gui_start 120
gui_wait_exit
vx_sim_stop
vx_expect_rc 1
vx_expect_ko "[Error 8] Download firmware Error."
vx_expect_no_file OK.txt
vx_expect_trace "[FLASH][main_page] WM_CLOSE !" \
    "[FLASH][main_page] Flash procedure FAILED - ExitProcess(1) "

# ---- leaving the page during a download: answered No, the download goes on ----
# Four banks at 115200 bit/s: about six seconds each.
vx_case gui-leave-no
vx_image --model 3 --kind fw --pages 24 --fw-end 0x4FFFF --seed 14  # flash pages 4-19
vx_ini FILENAME=image.bin SEND_FW=1 FLASHMODE=0
vx_sim_start --model 3 --line-rate 115200 --exit-after-downloads 1
gui_start 180
drive sheet:60 command:2 wait-text:30:1019:Sending sleep:2000 select:2 >/dev/null
expect_drive "leaving asks messages 39 and 40" \
    "Firmware download|A download is running. Stopping it now can leave the printer without working firmware. Stop it anyway?" \
    box:10
shot gui-leave-question
drive answer:no sleep:1000 >/dev/null
expect_drive "the page stays" "0" page
drive no-box >/dev/null
vx_check "no box left open" $? "$(tail -1 driver.err)"
drive wait-text:120:1007:"$M36" wait-text:10:1008:Ready >/dev/null
vx_check "the download completes" $? "$(tail -1 driver.err)"
for i in $(seq 50); do kill -0 "$SIM_PID" 2>/dev/null || break; sleep 0.1; done
vx_sim_stop
vx_expect_pages image.bin 4 "4-19"
# The procedure ends right after its last status line.
drive sleep:1000 select:2 wait-page:10:2 press:ok gone:20 >/dev/null
vx_check "after the download the page can be left without a question" $? "$(tail -1 driver.err)"
gui_wait_exit
vx_expect_rc 1
! grep -q "Stop requested" FlashTrace.dbg
vx_check "no stop was requested" $?

# ---- answered Yes: the procedure stops by itself, the port is released ----
vx_case gui-leave-yes
vx_image --model 3 --kind fw --pages 24 --fw-end 0x4FFFF --seed 15
vx_ini FILENAME=image.bin SEND_FW=1 FLASHMODE=0
vx_sim_start --model 3 --line-rate 115200
gui_start 180
drive sheet:60 command:2 wait-text:30:1019:Sending sleep:8000 select:2 >/dev/null
drive answer:yes:10 >/dev/null
drive wait-page:15:2 >/dev/null
vx_check "the sheet moves to the page asked for" $? "$(tail -1 driver.err)"
at_stop=$(banks_done)
sleep 8  # longer than a bank takes
after=$(banks_done)
[ "$at_stop" = "$after" ] && [ "${after:-0}" -lt 4 ]
vx_check "no further bank reaches the printer" $? "banks at the stop: $at_stop, 8 s later: $after"
holders=$(pty_holders)
[ -z "$holders" ]
vx_check "the port is released" $? "still held by: $holders"
vx_expect_trace "[FLASH][main_page] Stop requested, waiting for the flash procedure" \
    "[FLASH][send_thread] Stopped by the user" "[FLASH][main_page] Flash procedure stopped"
! grep -q "TerminateThread" FlashTrace.dbg
vx_check "the thread ended by itself (no forced end)" $?
drive select:0 wait-page:10:0 >/dev/null
expect_drive "the main page can start again" "0" page
drive press:ok gone:20 >/dev/null
gui_wait_exit
vx_sim_stop
vx_expect_rc 1

# ---- answered Yes while the printer takes no more bytes: the stop ends in bounded time ----
vx_case gui-leave-yes-stalled
vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed 16
vx_ini FILENAME=image.bin SEND_FW=1 FLASHMODE=0
vx_sim_start --model 3 --stall-in-bank 0:2000
gui_start 120
drive sheet:60 command:2 wait-text:30:1019:Sending sleep:1500 select:2 >/dev/null
drive answer:yes:10 >/dev/null
drive wait-page:15:2 >/dev/null
vx_check "the sheet moves to the page asked for" $? "$(tail -1 driver.err)"
holders=$(pty_holders)
[ -z "$holders" ]
vx_check "the port is released" $? "still held by: $holders"
vx_expect_trace "[FLASH][main_page] Stop requested, waiting for the flash procedure" \
    "[FLASH][main_page] Flash procedure stopped"
drive press:ok gone:20 >/dev/null
gui_wait_exit
vx_sim_stop
vx_expect_rc 1

vx_finish
