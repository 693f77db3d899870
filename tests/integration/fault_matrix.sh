#!/usr/bin/env bash
# Fault matrix: silent runs over a pty against printer-sim, for the Linux build and the exe
# under Wine. Each row of the table below is one case with what the run must end with: the
# exit code, the result line (OK.txt, or the KO.txt line), the flash pages the simulator holds
# afterwards (each compared with the image) and a trace line that shows the path taken.
#
# Every case sends a model-3 image of 8 pages (flash pages 4-7 firmware, 8-11 CG) in two
# banks: bank 0 is pages 8-11, bank 1 pages 4-7, unless its flash.ini keys (which replace the
# defaults of the same name), its printer-sim options or its file action say otherwise.
# Four cases wait for the program's own time-outs: twelve empty reply waits of 4 s (reset,
# reply lost, silence) and the 180 s limit of a bank that is never acknowledged.
# VX_MATRIX_CASES=REGEX runs only the cases whose name matches; VX_MATRIX_ONCE=skip leaves out
# the rows that run once, VX_MATRIX_ONCE=only runs nothing else (scripts/test runs them beside
# the rest).
. "$(dirname "$0")/lib/harness.sh"
vx_require

OK_LINE=" OK - update firmware completed successfully "
E7="[Error 7] Invalid firmware file format."
E8="[Error 8] Download firmware Error."
E10="[Error 10] Init Download Error."

# Every case runs on both builds; a row limited to one names it in the platforms column, with
# a comment line above it saying why ("once": the Linux build, not its sanitizer build). Lines starting with # are comments.
# name | platforms | printer-sim options | flash.ini | file action | rc | result | pages | trace
# lines (in this order, separated by " ;; ") | limit (s)
MATRIX=$(
    cat <<'EOF'
baseline              | all   | --exit-after-downloads 1            | -             | -            | 1 | OK | 4-11 | [Cls_flash][download_com] END | 120
port-vanishes-mid-bank| all   | --hang-up-in-bank 1:5000            | -             | -            | 0 | E8 | 8-11 | WRITE FAILED: the printer takes no more data | 90
printer-resets-mid-bank| all  | --reset-in-bank 1:5000              | -             | -            | 0 | E8 | 8-11 | FAILED FOR MAX_RETRY | 150
bank-reply-lost       | all   | --fault 0:lost                      | -             | -            | 0 | E8 | 8-11 | FAILED FOR MAX_RETRY | 150
cts-held-low          | all   | --exit-after-downloads 1            | -             | cts-low      | 1 | OK | 4-11 | [FLASH][purge_port] Output did not drain within | 90
retry-last-bank       | all   | --fault 1:06 --exit-after-downloads 1 | -           | -            | 1 | OK | 4-11 | RESEND BANK (65538 bytes) | 60
retry-partial-bank    | all   | --fault 1:06 --exit-after-downloads 1 | -           | pages6       | 1 | OK | 4-9  | RESEND BANK (32770 bytes) | 60
retry-beyond-limit    | all   | --fault 1:06x12                     | -             | -            | 0 | E8 | 8-11 | FAILED FOR MAX_RETRY (resend) | 90
# Three minutes of waiting, so on the plain Linux build only: the unit tests hold the same
# limit on a fake clock for every build.
waiting-past-limit    | once  | --fault 0:00x100,03x100 --reply-gap-ms 1000 --timeout 300 | - | -  | 0 | E8 | -    | NO BANK ACKNOWLEDGE WITHIN 180 s | 260
image-shrinks         | all   | -                                   | -             | shrink@header | 0 | E8 | -   | changed since it was checked | 60
image-changes         | all   | -                                   | -             | change@header | 0 | E8 | -   | changed since it was checked | 60
image-256mib          | all   | -                                   | -             | grow256m     | 0 | E7 | -    | [FLASH][CheckFwFile] Invalid file CRC str ! | 90
image-past-largest    | all   | -                                   | -             | grow1g       | 0 | E7 | -    | [FLASH][CheckFwFile] Invalid FileSize ! | 60
path-259-chars        | all   | --exit-after-downloads 1            | -             | path259      | 1 | OK | 4-11 | [Cls_flash][download_com] END | 60
binary-flash-ini      | all   | --exit-after-downloads 1            | -             | binary-ini   | 1 | OK | 4-11 | [Cls_flash][download_com] END | 60
binary-flash-mes      | all   | --exit-after-downloads 1            | -             | binary-mes   | 1 | OK | 4-11 | [Cls_flash][download_com] END | 60
trace-unwritable      | all   | --exit-after-downloads 1            | TRACE=1       | trace-dir    | 1 | OK | 4-11 | - | 60
# Another user's file behind the trace, KO.txt and OK.txt (the result files planted after
# start-up deleted them): left as it was, the run goes on. Wine follows a Unix symbolic link
# as a plain file, so the symbolic rows run on Linux only.
links-symbolic-ok     | linux | --exit-after-downloads 1            | -             | symlinks     | 1 | refused | 4-11 | - | 60
links-symbolic-ko     | linux | -                                   | -             | symlinks+change | 0 | refused | - | - | 60
links-hard-ok         | all   | --exit-after-downloads 1            | -             | hardlinks    | 1 | refused | 4-11 | - | 60
links-hard-ko         | all   | -                                   | -             | hardlinks+change | 0 | refused | - | - | 60
# Replies that end the download of the firmware alone (one bank, pages 4-7).
reply-07              | all   | --fault 0:07                        | SEND_CG=0     | -            | 0 | E8 | -    | [FLASH][check_reply] PR_REPLY=7 ;; [FLASH][check_reply] UNRECOVABLE_ERROR_REPLY | 60
reply-01              | all   | --fault 0:01                        | SEND_CG=0     | -            | 0 | E8 | -    | [FLASH][check_reply] PR_REPLY=1 ;; [FLASH][check_reply] UNRECOVABLE_ERROR_REPLY | 60
reply-silence         | all   | --fault 0+:silence                  | SEND_CG=0     | -            | 0 | E8 | -    | WAIT DATA retry number 11  ;; [Cls_flash][download_com] FAILED FOR MAX_RETRY | 150
# Refused before any header: model 5 has no range for firmware + CG (instead of writing image
# page 0 into the boot area); a 20-page image for the model-1 sequence that asks for 0-25.
model5-fw-cg-refused  | all   | --model 5                           | -             | model5       | 0 | noOK | no-header | [FLASH][set_BeginEndPage] No page range for model 5 and send mode 0x6 ! | 60
header-refused        | all   | --model 1                           | KEEP_SETTINGS=1 | model1-20p | 0 | E10 | no-header | [FLASH][send_header] Invalid endpage=25  number ( Max 20 ) ! | 60
line-stalls-mid-bank  | all   | --stall-in-bank 0:6500              | -             | -            | 0 | E8 | -    | WRITE FAILED: the printer takes no more data | 60
# SIGTERM 12 s in, in the middle of bank 0 on a slow line; it must end well before its limit. A Windows program gets no such signal.
sigterm-mid-bank      | linux | --line-rate 38400                   | -             | sigterm      | 0 | E8 | -    | Stopped: signal 15 asks the process to end | 20
sigterm-unattended    | linux | --line-rate 38400                   | FLASHMODE=1   | sigterm      | 1 | E8 | -    | Stopped: signal 15 asks the process to end | 20
EOF
)

trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' <<<"$1"; }

# The image path as the program under test spells it.
program_path() {  # platform, unix path
    if [ "$1" = wine ]; then printf 'Z:%s' "${2//\//\\}"; else printf '%s' "$2"; fi
}

# Binary noise that must neither crash the program nor be used as a format.
noise() {  # seed, bytes
    python3 - "$1" "$2" <<'PY'
import random, sys
r = random.Random(int(sys.argv[1]))
# Text first: a file that starts with a byte order mark is read as another encoding.
out = bytearray(b"; noise\n")
out += bytearray(r.getrandbits(8) for _ in range(int(sys.argv[2])))
out += b"%s%n%x%p%999999d\x00\xff\r\r\n" * 8 + b"x" * 5000 + b"\n"
sys.stdout.buffer.write(bytes(out))
PY
}

# File actions. "prep" runs before the simulator starts (and may add its options to SIM_EXTRA),
# "armed" right after it.
file_action() {  # action, phase, platform
    local action=$1 phase=$2 platform=$3
    case "$action:$phase" in
    model5:prep)
        vx_image --model 5 --kind fw --pages 8 --seed 5 ;;
    model1-20p:prep)
        vx_image --model 1 --kind fw --pages 20 ;;
    pages6:prep)  # pages 4-9: bank 0 is pages 6-9, bank 1 the partial bank of pages 4-5
        vx_image --model 3 --kind fw --pages 6 --fw-end 0x1FFFF --seed 36 ;;
    cts-low:armed)  # written after the simulator's own DSR line
        printf 'DSR=1\nCTS=0\n' >modem ;;
    shrink@header:prep)
        SIM_EXTRA=(--on-header "truncate -s 65536 '$VX_RUN/image.bin'") ;;
    change@header:prep)  # same size, one byte of the last page flipped
        SIM_EXTRA=(--on-header "printf '\\377' | dd of='$VX_RUN/image.bin' bs=1 seek=131000 conv=notrunc 2>/dev/null") ;;
    grow256m:prep)
        truncate -s 256M image.bin ;;
    grow1g:prep)  # sparse: one page more than model 3 can be sent
        truncate -s $(((65532 + 1) * 16384)) image.bin ;;
    symlinks:prep | hardlinks:prep | symlinks+change:prep | hardlinks+change:prep)
        local ln=ln plant
        [ "${action#sym}" != "$action" ] && ln="ln -s"
        printf "someone else's\n" >victim
        $ln "$VX_RUN/victim" FlashTrace.dbg
        plant="$ln '$VX_RUN/victim' '$VX_RUN/KO.txt'; $ln '$VX_RUN/victim' '$VX_RUN/OK.txt'"
        [ "${action%+change}" != "$action" ] &&
            plant="$plant; printf '\\377' | dd of='$VX_RUN/image.bin' bs=1 seek=131000 conv=notrunc 2>/dev/null"
        SIM_EXTRA=(--on-header "$plant") ;;
    path259:prep)
        # A directory chain under the run directory, the whole path 259 characters as the
        # program spells it (a Windows path under Wine: "Z:" and backslashes).
        local extra=0 dir file spelled
        [ "$platform" = wine ] && extra=2
        dir="$VX_RUN/p"
        while [ $((${#dir} + extra + 1 + 100)) -lt 259 ]; do dir="$dir/$(printf 'd%.0s' {1..60})"; done
        mkdir -p "$dir"
        file="$dir/$(printf 'i%.0s' $(seq $((259 - extra - ${#dir} - 1 - 4)))).bin"
        mv image.bin "$file"
        ln -s "$file" image.bin  # what the pages are compared with
        spelled=$(program_path "$platform" "$file")
        [ ${#spelled} -eq 259 ] || echo "   (path is ${#spelled} characters)"
        sed -i "s|^FILENAME=.*|FILENAME=${spelled//\\/\\\\}|" flash.ini ;;
    binary-ini:prep)
        # Noise before the first section, inside [GENERAL] and as a last section.
        { noise 1 3000; cat flash.ini; printf '[JUNK]\n'; noise 2 3000; } >flash.ini.new
        sed -i "0,/^\[GENERAL\]$/s//[GENERAL]\n$(printf 'K%.0s' {1..3000})=%s%n/" flash.ini.new
        mv flash.ini.new flash.ini ;;
    binary-mes:prep)
        { noise 3 4000; printf '14,%%s%%n%%s bank\n8,%%999999999d\n24,%%d%%d%%d%%d\n'; noise 4 4000; } >flash.mes ;;
    trace-dir:prep)
        mkdir FlashTrace.dbg ;;
    sigterm:armed)
        vx_signal_later 12 TERM ;;
    esac
}

expect_result() {  # result
    case "$1" in
    OK)
        vx_expect_no_file KO.txt
        # one line, no line end: the time stamp, then the text
        [ "$(sed -E 's/^\[[0-9]{2}:[0-9]{2}:[0-9]{2}\]//' OK.txt 2>/dev/null)" = "$OK_LINE" ]
        vx_check "OK.txt holds the success line" $? "$(cat OK.txt 2>/dev/null)" ;;
    E7) vx_expect_ko "$E7"; vx_expect_no_file OK.txt ;;
    E8) vx_expect_ko "$E8"; vx_expect_no_file OK.txt ;;
    E10) vx_expect_ko "$E10"; vx_expect_no_file OK.txt ;;
    noOK) vx_expect_no_file OK.txt ;;
    refused)
        [ "$(cat victim)" = "someone else's" ]
        vx_check "the file behind the links is unchanged" $? "$(head -3 victim)"
        local want=OK.txt
        [ "$VX_RC" = 1 ] || want=KO.txt
        # The console names the refused file (the exe has no console).
        [ "$pf" = wine ] || grep -q "^$want is a link or not a plain file" run.out
        vx_check "$want is named as refused" $? "$(head -5 run.out)" ;;
    esac
}

expect_pages() {  # ranges, - or no-header
    if [ "$1" = no-header ]; then
        ! grep -q "EV header" transcript.txt && [ ! -s pages/pages.txt ]
        vx_check "no header reached the printer; it holds no page" $? "$(grep 'EV header' transcript.txt)"
    elif [ "$1" = - ]; then
        [ ! -s pages/pages.txt ]
        vx_check "the printer holds no page" $? "$(cat pages/pages.txt 2>/dev/null)"
    else
        vx_expect_pages image.bin 4 "$1"
    fi
}

for pf in $(vx_platforms); do
    # The table comes on descriptor 3: the programs under test inherit standard input.
    while IFS='|' read -r name plats sim ini action rc result pages trace limit <&3; do
        name=$(trim "$name")
        [ -n "$name" ] && [ "${name:0:1}" != "#" ] || continue
        [[ "$name" =~ ${VX_MATRIX_CASES:-.} ]] || continue
        plats=$(trim "$plats")
        case "${VX_MATRIX_ONCE:-}:$plats" in
        skip:once | only:all | only:linux | only:wine) continue ;;
        esac
        [ "$plats" = once ] && [ "$pf" = linux ] && [ "$VX_BUILD_LINUX" != "${VX_BUILD_ASAN:-}" ] &&
            plats=linux
        [ "$plats" = all ] || [ "$plats" = "$pf" ] || continue
        sim=$(trim "$sim") ini=$(trim "$ini") action=$(trim "$action") rc=$(trim "$rc")
        result=$(trim "$result") pages=$(trim "$pages") trace=$(trim "$trace") limit=$(trim "$limit")
        [ "$sim" = - ] && sim=""
        [ "$ini" = - ] && ini=""

        vx_case "$pf-$name"
        vx_image --model 3 --kind fw --pages 8 --fw-end 0x1FFFF --seed 3
        keys=(FILENAME=image.bin SEND_FW=1 SEND_CG=1)
        for kv in $ini; do mapfile -t keys < <(printf '%s\n' "${keys[@]}" | grep -v "^${kv%%=*}="); done
        # shellcheck disable=SC2086
        vx_ini "${keys[@]}" $ini
        SIM_EXTRA=()
        file_action "$action" prep "$pf"
        # shellcheck disable=SC2086
        vx_sim_start --model 3 $sim "${SIM_EXTRA[@]}" || { vx_check "simulator started" 1; continue; }
        file_action "$action" armed "$pf"
        vx_flash "$pf" "$limit"
        vx_signal_done
        vx_sim_stop
        vx_expect_rc "$rc"
        expect_result "$result"
        expect_pages "$pages"
        if [ "$trace" != - ]; then
            mapfile -t lines < <(sed 's/ ;; /\n/g' <<<"$trace")
            vx_expect_trace "${lines[@]}"
        fi
    done 3<<<"$MATRIX"
done

vx_finish
