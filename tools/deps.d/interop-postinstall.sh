#!/usr/bin/env bash
# Runs after apt-get (also when it failed): removes the policy-rc.d that interop-preinstall.sh made.
set -euo pipefail
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
if [[ -f /usr/sbin/policy-rc.d ]] && grep -q 'dovrik-install-deps' /usr/sbin/policy-rc.d; then
  $SUDO rm -f /usr/sbin/policy-rc.d
fi
