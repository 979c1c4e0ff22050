#!/usr/bin/env bash
# Builds the DecodeForDisplay fuzz target with clang's libFuzzer and runs it for a bounded time,
# seeded with the message corpus.
#   run_fuzz_decode_for_display.sh <source root> <work dir>    (FUZZ_SECONDS, default 20)
# Exits 77 (skipped) when clang++ or GMime's development files are not there.
set -euo pipefail
src="$1"
work="$2"
seconds="${FUZZ_SECONDS:-20}"
command -v clang++ >/dev/null || { echo "clang++ not found: skipped"; exit 77; }
pkg-config --exists gmime-3.0 || { echo "gmime-3.0 not found: skipped"; exit 77; }
mkdir -p "$work/corpus"
bin="$work/fuzz_decode_for_display"
# shellcheck disable=SC2046
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$src" $(pkg-config --cflags gmime-3.0) "$src/tests/mime/fuzz_decode_for_display.cpp" \
  "$src"/mime/*.cpp $(pkg-config --libs gmime-3.0) -o "$bin"
cp "$src"/tests/mime/data/*.eml "$work/corpus/"
cd "$work"
# GMime's one-time start-up allocations live as long as the process: not leaks of one input.
ASAN_OPTIONS=detect_leaks=0 "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 corpus 2>&1 | tail -n 25
