#!/usr/bin/env bash
# vximage makes a valid image of every kind for every model, `vximage info` accepts each
# for exactly the right models, and every broken variant is refused with its reason.
# Also runs a few cases with the Windows build under Wine.
set -u
SRC=${VX_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
LIN=${VX_BUILD_LINUX:-$SRC/build/linux}
WIN=${VX_BUILD_WINDOWS:-$SRC/build/windows}
V=$LIN/vximage
if [ ! -x "$V" ]; then
    echo "FAIL: $V not built"
    exit 1
fi
tmp=$(mktemp -d /tmp/vximage-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
fails=0
fail() {
    echo "FAIL: $*"
    fails=$((fails + 1))
}

# Valid images: which models accept them. Model 5 firmware takes any file with a good final
# trailer and model 6 any with exactly three, so those appear beside the image's own model.
declare -A FW_OK=([1]="1" [2]="2" [3]="3, 5" [4]="4, 5" [5]="5" [6]="5, 6")
declare -A BOOT_OK=([2]="2" [3]="3" [4]="4" [5]="5, 6" [6]="5, 6")
declare -A BOOT_AS_FW=([2]="none" [3]="5" [4]="5" [5]="none" [6]="none")

for m in 1 2 3 4 5 6; do
    f=$tmp/fw$m.bin
    "$V" make --model "$m" --kind fw -o "$f" || { fail "make fw model $m"; continue; }
    out=$("$V" info "$f")
    [ $? -eq 0 ] || fail "info fw model $m exit code"
    grep -qx "valid firmware for models: ${FW_OK[$m]}" <<<"$out" ||
        fail "fw model $m: $(grep '^valid firmware' <<<"$out")"
    grep -qx "valid boot image for models: none" <<<"$out" || fail "fw model $m passes as boot"
    "$V" info "$f" --model "$m" >/dev/null || fail "info --model $m of its own firmware"
done
for m in 2 3 4 5 6; do
    f=$tmp/boot$m.bin
    "$V" make --model "$m" --kind boot -o "$f" || { fail "make boot model $m"; continue; }
    out=$("$V" info "$f")
    [ $? -eq 0 ] || fail "info boot model $m exit code"
    grep -qx "valid boot image for models: ${BOOT_OK[$m]}" <<<"$out" ||
        fail "boot model $m: $(grep '^valid boot' <<<"$out")"
    grep -qx "valid firmware for models: ${BOOT_AS_FW[$m]}" <<<"$out" ||
        fail "boot model $m as firmware: $(grep '^valid firmware' <<<"$out")"
done
# A model the file does not fit: exit 1 (model-3 firmware checked for model 4).
"$V" info "$tmp/fw3.bin" --model 4 >/dev/null && fail "model-3 firmware accepted for model 4"
grep -q "checksum (last 8 bytes): stored 0x[0-9A-F]\{4\}, computed 0x[0-9A-F]\{4\} (match)" \
    <(cd "$tmp" && "$V" info fw3.bin) || fail "checksum line of a valid image"
grep -q "FW pages 4-19, CG pages 20-35, highest end page 36" <(cd "$tmp" && "$V" info fw3.bin) ||
    fail "sections of the model-3 firmware"

# Broken variants: make succeeds, info --model refuses with a reason naming the fault.
while read -r kind m brk reason; do
    f=$tmp/broken.bin
    "$V" make --model "$m" --kind "$kind" --break "$brk" -o "$f" ||
        { fail "make $kind model $m --break $brk"; continue; }
    out=$("$V" info "$f" --model "$m")
    [ $? -eq 1 ] || fail "$kind model $m --break $brk: exit code not 1"
    label=$([ "$kind" = fw ] && echo firmware || echo boot)
    line=$(grep "^$label model $m " <<<"$out")
    grep -q "NOT valid: .*$reason" <<<"$line" ||
        fail "$kind model $m --break $brk: expected '$reason' in: $line"
done <<'CASES'
fw 1 tag do not hold "FLASH"
fw 1 size not a whole number of 16384-byte pages
fw 2 tag do not hold "FW_VX3EPLUS"
fw 2 short at least 17 pages
fw 3 crc checksum mismatch
fw 3 tag tag "FW_VX3PLUS"
fw 3 trailer no checksum trailer
fw 3 table SECTION TBL
fw 3 strings FW i:
fw 3 gc GC i:
fw 4 tag tag "FW_VX3PLUS_SC"
fw 4 crc checksum mismatch
fw 5 crc checksum mismatch
fw 5 trailer no checksum trailer
fw 5 size not a whole number
fw 6 trailer holds 2 "  CRC:" trailers
fw 6 extra-trailer holds 4 "  CRC:" trailers
fw 6 crc checksum mismatch
boot 2 tag do not hold "BOOT_VX3EPLUS"
boot 2 short boot header needs at least 65344
boot 3 crc checksum mismatch
boot 3 tag "BOOT_VX3PLUS" and a zero byte
boot 3 short needs at least 65379
boot 4 table SECTION TBL
boot 4 strings Boot i:
boot 5 trailer bytes 0xFFC8-0xFFCF hold no
boot 5 short needs at least 65488
boot 6 crc checksum mismatch
boot 6 tag "BOOT_VX3PLUS_ADF"
CASES

# Breakage that does not apply is refused by make (exit 2), not silently ignored.
for args in "--model 1 --kind fw --break crc" "--model 5 --kind fw --break tag" \
    "--model 2 --kind boot --break table" "--model 1 --kind boot"; do
    # shellcheck disable=SC2086
    "$V" make $args -o "$tmp/x.bin" 2>/dev/null
    [ $? -eq 2 ] || fail "make $args should be refused"
done

# Same seed, same bytes; another seed, other bytes.
"$V" make --model 3 --kind fw --seed 7 -o "$tmp/a.bin" && "$V" make --model 3 --kind fw --seed 7 -o "$tmp/b.bin"
cmp -s "$tmp/a.bin" "$tmp/b.bin" || fail "same seed gives different images"
"$V" make --model 3 --kind fw --seed 8 -o "$tmp/b.bin"
cmp -s "$tmp/a.bin" "$tmp/b.bin" && fail "another seed gives the same image"

help=$("$V" --help) || fail "--help exit code"
for opt in --model --kind --pages --seed --fw-end --cg-start --fpga-end --break -o info; do
    grep -q -- "$opt" <<<"$help" || fail "--help does not mention $opt"
done

# The Windows build under Wine: same bytes, same verdicts.
if [ -x "$(command -v wine)" ] && [ -f "$WIN/vximage.exe" ]; then
    run_wine() { (cd "$tmp" && timeout 120 wine "$WIN/vximage.exe" "$@"); }
    run_wine make --model 6 --kind fw --seed 7 -o w6.bin || fail "wine: make model 6"
    "$V" make --model 6 --kind fw --seed 7 -o "$tmp/l6.bin"
    cmp -s "$tmp/w6.bin" "$tmp/l6.bin" || fail "wine: model-6 image differs from the Linux one"
    out=$(run_wine info w6.bin --model 6 | tr -d '\r')
    [ "${PIPESTATUS[0]}" -eq 0 ] || true
    grep -q "^firmware model 6 (KD5_ADF_L2_MODEL): valid; FW pages 4-" <<<"$out" ||
        fail "wine: info of model-6 firmware: $out"
    run_wine make --model 3 --kind boot --break crc -o wb.bin || fail "wine: make broken boot"
    run_wine info wb.bin --model 3 >"$tmp/wine-info.txt"
    [ $? -eq 1 ] || fail "wine: broken boot image not refused"
    grep -q "NOT valid: checksum mismatch" "$tmp/wine-info.txt" || fail "wine: no reason line"
else
    echo "note: Windows vximage.exe or wine not available; Wine cases skipped"
fi

if [ $fails -ne 0 ]; then
    echo "$fails failure(s)"
    exit 1
fi
echo "PASS: vximage"
