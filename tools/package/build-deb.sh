#!/usr/bin/env bash
# Builds the Debian package of Dovrik with the default preset, checks it with lintian (errors fail
# the build; warnings are shown) and prints its path.
#   tools/package/build-deb.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target dovrik dovrik-desktop-files
rm -f build/default/package/dovrik_*.deb
cpack --config build/default/CPackConfig.cmake >/dev/null
deb=$(ls build/default/package/dovrik_*_amd64.deb)
lintian --fail-on error --info "$deb"
echo "$deb"
