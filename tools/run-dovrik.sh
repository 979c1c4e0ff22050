#!/usr/bin/env bash
# Installs what is missing, builds Dovrik and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
echo "Dovrik is built; its main job comes with the mail engine."
