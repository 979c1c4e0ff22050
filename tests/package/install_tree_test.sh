#!/usr/bin/env bash
# `cmake --install` into a scratch root: every desktop file lands at its usual path and passes its
# validator, the PNG icons have their folder's size and show something, the manual page formats
# without warnings.
#   install_tree_test.sh BUILD_DIR SCRATCH "16 22 ..." with-program|without-program
set -euo pipefail
build=$1 dest=$2 sizes=$3 program=$4
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

rm -rf "$dest"
cmake --install "$build" --prefix "$dest/usr" >/dev/null
share=$dest/usr/share

expected=(
  "$share/applications/org.dovrik.Dovrik.desktop"
  "$share/metainfo/org.dovrik.Dovrik.metainfo.xml"
  "$share/man/man1/dovrik.1.gz"
  "$share/doc/dovrik/copyright"
  "$share/doc/dovrik/changelog.gz"
  "$share/icons/hicolor/scalable/apps/dovrik.svg"
  "$share/icons/hicolor/scalable/status/dovrik-new-mail.svg"
)
for size in $sizes; do expected+=("$share/icons/hicolor/${size}x${size}/apps/dovrik.png"); done
if [[ $program == with-program ]]; then expected+=("$dest/usr/bin/dovrik"); fi
for f in "${expected[@]}"; do [[ -f $f ]] || fail "not installed: ${f#"$dest"}"; done
if [[ $program == with-program ]]; then [[ -x $dest/usr/bin/dovrik ]] || fail "dovrik is not executable"; fi

desktop-file-validate "$share/applications/org.dovrik.Dovrik.desktop" || fail "desktop-file-validate"
# Checks the metadata together with the menu entry and icon it names.
appstreamcli validate-tree --no-net "$dest" || fail "appstreamcli validate-tree"

for size in $sizes; do
  png=$share/icons/hicolor/${size}x${size}/apps/dovrik.png
  read -r w h alpha < <(convert "$png" -format '%w %h %[fx:mean.a]\n' info:)
  [[ $w == "$size" && $h == "$size" ]] || fail "${size}x${size} icon is ${w}x${h}"
  # A failed render is a transparent square; the envelope covers a good part of the picture.
  awk -v a="$alpha" 'BEGIN { exit !(a > 0.3) }' || fail "${size}x${size} icon is nearly empty ($alpha)"
done

for gz in "$share/man/man1/dovrik.1.gz" "$share/doc/dovrik/changelog.gz"; do
  gzip -t "$gz" || fail "$gz is not valid gzip"
done
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
  "$share/man/man1/dovrik.1.gz" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "the manual page formats with warnings: $warnings"
echo "install tree complete and valid"
