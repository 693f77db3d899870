#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer, seeds the image checks with vximage images
# of every model, and runs each for a bounded time (the release-answer target, being small,
# for a third of it); any finding fails the test.
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

timeout $((SECONDS_TO_RUN + 120)) "$OUT/fuzz_image_checks" -max_len=70000 \
    -max_total_time="$SECONDS_TO_RUN" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$probe/artifacts/" "$corpus" >"$probe/fuzz.log" 2>&1
rc=$?
if [ $rc -ne 0 ] || [ -n "$(ls -A "$probe/artifacts")" ]; then
    echo "FAIL: fuzzer exit code $rc"
    tail -60 "$probe/fuzz.log"
    exit 1
fi
grep -E "^stat::number_of_executed_units" "$probe/fuzz.log"
echo "PASS: fuzz_image_checks ran ${SECONDS_TO_RUN}s clean"

# The release answer to the CONDITIONAL_TABLE key, seeded with a few answers.
release=$probe/release
mkdir -p "$release/corpus" "$release/artifacts"
printf '\002 1.05;A01; \003' >"$release/corpus/normal"
printf '\002 123456789;B; \003' >"$release/corpus/long"
printf '\002\003' >"$release/corpus/short"
RELEASE_SECONDS=$(((SECONDS_TO_RUN + 2) / 3))
timeout $((RELEASE_SECONDS + 120)) "$OUT/fuzz_release_key" -max_len=128 \
    -max_total_time="$RELEASE_SECONDS" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$release/artifacts/" "$release/corpus" >"$release/fuzz.log" 2>&1
rc=$?
if [ $rc -ne 0 ] || [ -n "$(ls -A "$release/artifacts")" ]; then
    echo "FAIL: fuzz_release_key exit code $rc"
    tail -60 "$release/fuzz.log"
    exit 1
fi
grep -E "^stat::number_of_executed_units" "$release/fuzz.log"
echo "PASS: fuzz_release_key ran ${RELEASE_SECONDS}s clean"
