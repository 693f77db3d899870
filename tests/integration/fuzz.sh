#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a bounded time: the
# image checks seeded with vximage images of every model, the text parsers with the small
# corpora in tests/fuzz/corpus, the simulator with one-page downloads. Any finding fails the
# test. VX_FUZZ_SECONDS sets the total time.
set -u
SRC=${VX_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
OUT=${VX_FUZZ_BUILD:-$SRC/build/fuzz}
SECONDS_TO_RUN=${VX_FUZZ_SECONDS:-60}

if ! command -v clang++ >/dev/null; then
    echo "SKIP: clang++ not installed"
    exit 77
fi
probe=$(mktemp -d /tmp/vxfuzz.XXXXXX)
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long){return 0;}\n' \
    >"$probe/p.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/p.cpp" -o "$probe/p" 2>/dev/null; then
    echo "SKIP: clang++ -fsanitize=fuzzer does not link (libclang-rt missing?)"
    exit 77
fi

if ! timeout 900 "$SRC/tests/fuzz/build.sh" "$OUT" >"$probe/build.log" 2>&1; then
    echo "FAIL: fuzz build"
    tail -40 "$probe/build.log"
    exit 1
fi

# Seeds: small valid images of each kind, so the fuzzer starts past the size and tag checks.
corpus=$probe/corpus
mkdir -p "$corpus" "$probe/artifacts"
V=$OUT/vximage
for m in 1 3 4 5; do
    "$V" make --model "$m" --kind fw --pages 1 -o "$corpus/fw$m" || exit 1
done
"$V" make --model 6 --kind fw --pages 1 --fw-end 0x10FFF --fpga-end 0x11FFF -o "$corpus/fw6" || exit 1
for m in 2 3 4 5 6; do
    "$V" make --model "$m" --kind boot -o "$corpus/boot$m" || exit 1
done

# Half the time for the image checks, the rest shared by the text-file parsers.
image_seconds=$((SECONDS_TO_RUN / 2))
other_seconds=$(((SECONDS_TO_RUN - image_seconds) / 4))
[ "$other_seconds" -ge 1 ] || other_seconds=1
failed=0
run_target() {  # name, seconds, max_len, corpus
    local name=$1 secs=$2 max_len=$3 seeds=$4 work="$probe/work-$1"
    mkdir -p "$work"
    cp -r "$seeds"/. "$work"/
    timeout $((secs + 120)) "$OUT/$name" -max_len="$max_len" -max_total_time="$secs" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$probe/artifacts/$name-" \
        "$work" >"$probe/$name.log" 2>&1
    local rc=$?
    if [ $rc -ne 0 ] || ls "$probe/artifacts/$name-"* >/dev/null 2>&1; then
        echo "FAIL: $name exit code $rc"
        tail -60 "$probe/$name.log"
        failed=1
        return
    fi
    echo "PASS: $name ran ${secs}s clean ($(grep -oE 'number_of_executed_units: *[0-9]+' "$probe/$name.log" | grep -oE '[0-9]+$') runs)"
}
run_target fuzz_image_checks "$image_seconds" 70000 "$corpus"
run_target fuzz_catalogue "$other_seconds" 4096 "$SRC/tests/fuzz/corpus/catalogue"
run_target fuzz_profile "$other_seconds" 4096 "$SRC/tests/fuzz/corpus/profile"
run_target fuzz_release_key "$other_seconds" 128 "$SRC/tests/fuzz/corpus/release"
# The simulator: seeds are what the program sends for a one-page download of each model.
python3 - "$probe/sim-seeds" <<'PY'
import os, sys
out = sys.argv[1]; os.makedirs(out, exist_ok=True)
def rec(dt, b): return bytes([dt, len(b) & 0xFF, len(b) >> 8]) + b
headers = {1: bytes([0, 4, 0, 4, 0x56]), 6: bytes([0, 4, 0, 4]) + bytes(12) + b'\x56'}
for model in range(1, 7):
    header = headers.get(model, bytes([0, 4, 0, 4, 0, 0x56]))
    page = bytes((i * 7) & 0xFF for i in range(16384))
    check = sum(page) & 0xFFFF
    for usb in (0, 0x20):
        data = bytes([(model - 1) | usb]) + (rec(0, b'\x02') if usb else b'')
        data += rec(1, b'\x1b\x7d\x7b') + rec(1, header) + rec(70, page[:8192]) + rec(0, page[8192:])
        data += rec(0, bytes([check & 0xFF, check >> 8])) + rec(3, b'\x03')
        open(os.path.join(out, f'm{model}-{"usb" if usb else "pty"}'), 'wb').write(data)
PY
run_target fuzz_printer_sim "$other_seconds" 40000 "$probe/sim-seeds"
exit $failed
