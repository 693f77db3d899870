#!/usr/bin/env bash
# Builds the fuzz targets (and vximage, for seed images) with clang, libFuzzer and the
# sanitizers. Usage: tests/fuzz/build.sh [BUILD_DIR]   (default: build/fuzz)
set -eu
SRC=$(cd "$(dirname "$0")/../.." && pwd)
OUT=${1:-$SRC/build/fuzz}
mkdir -p "$OUT"
cmake -S "$SRC" -B "$OUT" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
    -DVX_SANITIZE=ON -DVX_FUZZ=ON -DVX_TESTS=OFF >"$OUT/configure.log" 2>&1 ||
    { cat "$OUT/configure.log"; exit 1; }
cmake --build "$OUT" --target fuzz_image_checks fuzz_catalogue fuzz_profile fuzz_release_key fuzz_printer_sim vximage
