#!/usr/bin/env bash
# Installs what building, running and testing Dovrik needs on Debian 12. Idempotent: installs only
# what is missing, runs `apt-get update` at most once. Needs root or sudo.
set -euo pipefail

packages=(
  # toolchain
  build-essential g++ cmake ninja-build git pkg-config clang libclang-rt-dev clang-format clang-tidy
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # service and protocol databases for port and protocol names
  netbase
  # Qt 6 desktop half, and a font so text renders
  qt6-base-dev fonts-dejavu-core
  # a real tray under a virtual X server, for the end-to-end desktop test
  xvfb xauth trayer xdotool x11-utils imagemagick
  # measuring
  time curl
)
# Extra package sets of later work: tools/deps.d/*.txt, one package per line.
if [[ -d "$(dirname "$0")/deps.d" ]]; then
  for f in "$(dirname "$0")"/deps.d/*.txt; do
    [[ -f "$f" ]] || continue
    while read -r p; do [[ -z "$p" || "$p" == \#* ]] || packages+=("$p"); done < "$f"
  done
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
# Hooks of later work: tools/deps.d/*-preinstall.sh run before apt-get (debconf answers, keeping
# services from starting), *-postinstall.sh after it, also when it failed. Both must be idempotent.
run_hooks() {
  local h
  for h in "$(dirname "$0")"/deps.d/*-"$1".sh; do
    [[ -f "$h" ]] && $SUDO bash "$h"
  done
  return 0
}
trap 'run_hooks postinstall' EXIT
run_hooks preinstall
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
