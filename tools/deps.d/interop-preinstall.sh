#!/usr/bin/env bash
# Runs before apt-get installs packages: Postfix must install without questions and without a
# system-wide configuration, and no mail service may start (or listen anywhere) during the install.
# Our tests run private instances of their own instead.
set -euo pipefail
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi

echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
echo "postfix postfix/mailname string localhost" | $SUDO debconf-set-selections

# invoke-rc.d asks policy-rc.d; 101 means "action forbidden". Only a file we created is ours to
# remove afterwards (interop-postinstall.sh); an existing one is left as it is.
if [[ ! -e /usr/sbin/policy-rc.d ]]; then
  printf '#!/bin/sh\n# dovrik-install-deps: no service starts while packages install\nexit 101\n' |
    $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod 0755 /usr/sbin/policy-rc.d
fi
