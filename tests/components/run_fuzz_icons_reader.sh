#!/usr/bin/env bash
# Builds the "Icons" reader fuzz target with clang's libFuzzer and runs it for a bounded time.
#   run_fuzz_icons_reader.sh <source root> <work dir>    (FUZZ_SECONDS, default 20)
# Exits 77 (skipped) when clang++ is not there.
set -euo pipefail
src="$1"
work="$2"
seconds="${FUZZ_SECONDS:-20}"
command -v clang++ >/dev/null || { echo "clang++ not found: skipped"; exit 77; }
mkdir -p "$work/corpus"
bin="$work/fuzz_icons_reader"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$src" "$src/tests/components/fuzz_icons_reader.cpp" "$src/components/icons_stream.cpp" \
  -o "$bin"
# Seeds: an empty list, one empty entry, and one icon file holding a PNG header of 16 x 16.
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
le32 0 >"$work/corpus/seed-empty"
{ le32 1; le32 0; } >"$work/corpus/seed-one-empty"
png() { printf '\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x10\x00\x00\x00\x10\x08\x06\x00\x00\x00'; }
ico() { printf '\x00\x00\x01\x00\x01\x00\x10\x10\x00\x00\x01\x00\x20\x00'; le32 29; le32 22; png; }
{ le32 2; le32 51; ico; le32 0; } >"$work/corpus/seed-icon"
cd "$work"
ASAN_OPTIONS=detect_leaks=1 "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
  -print_final_stats=1 corpus 2>&1 | tail -n 25
