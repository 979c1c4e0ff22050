#!/usr/bin/env bash
# Installs what is missing, builds and runs every test of one preset (default: "default").
#   tools/run-tests.sh [default|asan|tsan]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
tools/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
