# Fake USB printers for the exe under Wine (usb_wine.sh, scripts/bench): two printers in the
# registry of a Wine prefix of their own (Port Number 1 and 2) and the driver of
# tests/support/usb_wine, whose pipes lead to printer-sim --usb-tcp. Source after harness.sh:
#   usb_wine_start           prefix, registry, driver running (status 0 when it runs)
#   usb_wine_ports P1 P2     TCP port of each printer's simulator (0: none, the open fails)
#   usb_wine_stop            ends the prefix's Wine processes
export WINEPREFIX="${VX_USB_WINEPREFIX:-${TMPDIR:-/tmp}/vxint-usbwine-prefix-$(id -u)}"
USB_WINE_DRIVER="$VX_BUILD_WINDOWS/usbprint_fake.sys"
SERVICE=vxusbfake
GUID='{28d78fad-5a12-11d1-ae5b-0000f803a8c2}'
PARAMS="HKLM\\System\\CurrentControlSet\\Services\\$SERVICE\\Parameters"
INSTANCES=(VX0001 VX0002)  # Port Number 1 and 2
HOLD_FD=""

usb_wine_stop() {
    if [ -n "$HOLD_FD" ]; then
        exec {HOLD_FD}>&-
        HOLD_FD=""
    fi
    wineserver -k >/dev/null 2>&1
    timeout 30 wineserver -w >/dev/null 2>&1
}

# The name Wine gives the interface's DevicePath (after \\?\), which the driver links.
device_name() { echo "usb#vid_7a1e&pid_0030#$(echo "$1" | tr 'A-Z' 'a-z')#$GUID"; }

# Registry for one printer: the device with its hardware id, its USBPRINT interface, and the
# interface's "Port Number" (Wine's SetupDiOpenDeviceInterfaceRegKey opens the interface's
# "#\Device Parameters" key).
usb_reg() {  # instance, port number
    local itf="HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\DeviceClasses\\$GUID\\##?#USB#VID_7A1E&PID_0030#$1#$GUID"
    local ids
    ids=$(printf 'USB\\VID_7A1E&PID_0030&REV_0100\0USB\\VID_7A1E&PID_0030\0\0' | iconv -t UTF-16LE |
        od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
    cat <<EOF
[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\VID_7A1E&PID_0030\\$1]
"ClassGUID"="{36fc9e60-c465-11cf-8056-444553540000}"
"HardwareID"=hex(7):$ids

[$itf]
"DeviceInstance"="USB\\\\VID_7A1E&PID_0030\\\\$1"

[$itf\\#]

[$itf\\#\\Control]
"Linked"=dword:00000001

[$itf\\#\\Device Parameters]
"Port Number"=dword:$(printf %08x "$2")

EOF
}

# The prefix with the printers in its registry and the driver started. Wine ends its system
# processes (the driver's host among them) once no program of the prefix runs, so a Wine
# command prompt reading from a pipe we hold open keeps them up until the end.
usb_wine_start() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "(making a Wine prefix in $WINEPREFIX)"
        WINEDLLOVERRIDES="mscoree,mshtml=" timeout 180 wineboot -i >/dev/null 2>&1
        timeout 60 wineserver -w
    fi
    wineserver -k >/dev/null 2>&1  # a driver left running would keep its old settings
    timeout 30 wineserver -w >/dev/null 2>&1
    mkfifo "$VX_TMP/hold"
    wine cmd <"$VX_TMP/hold" >/dev/null 2>&1 &
    exec {HOLD_FD}>"$VX_TMP/hold"
    cp "$USB_WINE_DRIVER" "$WINEPREFIX/drive_c/windows/system32/drivers/usbprint_fake.sys"
    {
        echo "Windows Registry Editor Version 5.00"
        echo
        usb_reg "${INSTANCES[0]}" 1
        usb_reg "${INSTANCES[1]}" 2
        echo "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\$SERVICE\\Parameters]"
        local i
        for i in "${INSTANCES[@]}"; do echo "\"$(device_name "$i")\"=dword:00000000"; done
    } >"$VX_TMP/usb.txt"
    # Version 5 files are UTF-16: regedit reads hex(7) (REG_MULTI_SZ) data as such.
    { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$VX_TMP/usb.txt"; } >"$VX_TMP/usb.reg"
    wine sc create "$SERVICE" type= kernel start= demand \
        binPath= 'C:\windows\system32\drivers\usbprint_fake.sys' >/dev/null 2>&1
    wine regedit /S "$(winepath -w "$VX_TMP/usb.reg")" >/dev/null 2>&1
    wine sc start "$SERVICE" >/dev/null 2>&1
    wine sc query "$SERVICE" 2>/dev/null | grep -q RUNNING
}

usb_wine_ports() {
    local k=0 p
    for p in "$@"; do
        wine reg add "$PARAMS" /v "$(device_name "${INSTANCES[$k]}")" /t REG_DWORD /d "$p" /f \
            >/dev/null 2>&1
        k=$((k + 1))
    done
}
