#!/usr/bin/env bash
# The preflight check, end to end: `vxflash --check` on Linux and `vxflash.exe /check` under
# Wine over rollout folders made here, against ports that are pseudo-terminals (one free, one
# held by another process). Each row of the table is one folder with the exit code and the
# report lines it must give; every case also checks that the folder is unchanged byte for byte
# (the exe adds only CHECK.txt, which holds the same report) and that no result file appears.
# A port held with TIOCEXCL refuses other opens only to processes without CAP_SYS_ADMIN:
# the whole script (and the Wine server it starts) runs without it.
if [ -z "${VX_CHECK_NOADMIN:-}" ] && capsh --has-p=cap_sys_admin 2>/dev/null; then
    exec env VX_CHECK_NOADMIN=1 capsh --drop=cap_sys_admin -- "$0" "$@"
fi
. "$(dirname "$0")/lib/harness.sh"
vx_require

# name | flash.ini (keys by name, as vx_ini takes them) | folder action | port | rc | report lines (;; between)
TABLE=$(
    cat <<'EOF'
good              | FILENAME=image.bin SEND_FW=1 SEND_CG=1    | -            | free | 0 | [GENERAL] SEND_CG = 1  (line 4);;pages 4-11 from image page 0, 8 pages in 2 banks;;data 131076 bytes at ;;about ;;a run can succeed for model 3 (VX3PLUS_CR_MODEL); 0 problems, 0 warnings
table-missing-file| FILENAME=image.bin CONDITIONAL_TABLE=1    | table-missing| free | 1 | problem: [CONDITIONAL_TABLE] Rel106VerA01 gone.bin cannot be opened;;NO model can run
table-other-model | FILENAME=image.bin CONDITIONAL_TABLE=1    | table-model4 | free | 1 | other.bin: 131072 bytes; a valid firmware image for models 4, 5;;problem: the files a run may send are for different models;;NO model can run
misspelt-key      | FILENAME=image.bin SEND_CGG=1             | -            | free | 0 | warning: line 3: [GENERAL] SEND_CGG is not a key vxflash reads; it is ignored (did you mean SEND_CG?);;a run can succeed for model 3
lost-conversion   | FILENAME=image.bin                        | mes-bank     | free | 0 | warning: id 14 "Bank %": its conversions do not take a number; it is shown literally;;0 problems, 1 warning
busy-port         | FILENAME=image.bin                        | -            | busy | 1 | (serial): in use by another program;;NO model can run
EOF
)

trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' <<<"$1"; }

folder_action() {
    case "$1" in
    table-missing) printf '[CONDITIONAL_TABLE]\nRel105VerA01=image.bin\nRel106VerA01=gone.bin\n' >>flash.ini ;;
    table-model4)
        cp image.bin model3.bin
        vx_image --model 4 --kind fw --pages 8 --fw-end 0x1FFFF --seed 4 && mv image.bin other.bin
        mv model3.bin image.bin
        printf '[CONDITIONAL_TABLE]\nRel105VerA01=image.bin\nRel106VerA01=other.bin\n' >>flash.ini ;;
    mes-bank) sed -i 's/^14,.*/14,Bank %\r/' flash.mes ;;
    esac
}

# Two pseudo-terminals for the port: "free", and "busy" held open exclusively.
python3 "$VX_SRC/tests/integration/lib/pty_ports.py" "$VX_TMP/ports" free busy:held &
PORTS_PID=$!
trap 'kill $PORTS_PID 2>/dev/null; vx_cleanup' EXIT
for i in $(seq 100); do [ -s "$VX_TMP/ports" ] && break; sleep 0.05; done
pty_of() { awk -v n="$1" '$1 == n { print $2 }' "$VX_TMP/ports"; }

snapshot() { find . -type f ! -name CHECK.txt -exec sha256sum {} + | sort >"$VX_TMP/$VX_CASE.$1"; }

run_check() {  # platform, pty
    local port=$2
    if [ "$1" = wine ]; then
        vx_wine_prefix
        port=$VX_WINE_COM
        VX_WINE_LINK="$WINEPREFIX/dosdevices/$(echo "$port" | tr 'A-Z' 'a-z')"
        ln -sfn "$2" "$VX_WINE_LINK"
    fi
    sed -i "s|@PORT@|$port|" flash.ini
    snapshot before
    if [ "$1" = wine ]; then
        timeout -k 5 60 wine "$VX_BUILD_WINDOWS/vxflash.exe" /check >"$VX_TMP/$VX_CASE.report" \
            2>"$VX_TMP/$VX_CASE.err"
    else
        timeout -k 5 60 "$VX_BUILD_LINUX/vxflash" --check >"$VX_TMP/$VX_CASE.report" \
            2>"$VX_TMP/$VX_CASE.err"
    fi
    VX_RC=$?
    snapshot after
    mv "$VX_TMP/$VX_CASE.report" report.out
    echo "   ($1: exit $VX_RC)"
}

for pf in $(vx_platforms); do
    while IFS='|' read -r name ini action port rc lines <&3; do
        name=$(trim "$name")
        [ -n "$name" ] && [ "${name:0:1}" != "#" ] || continue
        ini=$(trim "$ini") action=$(trim "$action") port=$(trim "$port") rc=$(trim "$rc")
        lines=$(trim "$lines")
        # Root opens an exclusively held pty all the same, and Wine's own lock on it is not
        # seen in every run: the busy port is checked on Linux only.
        [ "$pf-$name" = wine-busy-port ] && continue
        vx_case "$pf-$name"
        vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed 3
        # shellcheck disable=SC2086
        vx_ini $ini
        folder_action "$action"
        run_check "$pf" "$(pty_of "$port")"
        vx_expect_rc "$rc"
        ! grep -qE 'ERROR: AddressSanitizer|runtime error:|LeakSanitizer' "$VX_TMP/$VX_CASE.err"
        vx_check "no sanitizer report" $? "$(head -5 "$VX_TMP/$VX_CASE.err")"
        report=report.out
        if [ "$pf" = wine ]; then
            # The report file holds what was shown, in Windows line ends.
            tr -d '\r' <CHECK.txt >check.lf 2>/dev/null
            [ -s check.lf ] && { [ ! -s report.out ] || cmp -s check.lf <(tr -d '\r' <report.out); }
            vx_check "CHECK.txt holds the report" $? "$(head -3 CHECK.txt 2>/dev/null)"
            report=check.lf
        fi
        IFS=$'\n' read -r -d '' -a want < <(printf '%s' "${lines//;;/$'\n'}")
        vx_expect_lines "$report" "${want[@]}"
        cmp -s "$VX_TMP/$VX_CASE.before" "$VX_TMP/$VX_CASE.after"
        vx_check "folder unchanged byte for byte" $? \
            "$(diff "$VX_TMP/$VX_CASE.before" "$VX_TMP/$VX_CASE.after" | head -5)"
        for f in KO.txt OK.txt FlashTrace.dbg; do vx_expect_no_file "$f"; done
    done 3<<<"$TABLE"
done

vx_finish
