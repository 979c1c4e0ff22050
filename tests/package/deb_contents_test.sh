#!/usr/bin/env bash
# The Debian package as built: its name and control fields, dependencies computed from the
# binaries, the files it carries, and lintian with no error and no warning beyond the accepted
# ones (each with its reason in the accepted list).
#   deb_contents_test.sh PACKAGE.deb VERSION ACCEPTED_WARNINGS
set -euo pipefail
deb=$1 version=$2 accepted=$3
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

[[ $(basename "$deb") == "dovrik_${version}_amd64.deb" ]] || fail "unexpected file name $deb"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == dovrik ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ $(field Architecture) == amd64 ]] || fail "Architecture: $(field Architecture)"
[[ $(field Section) == mail ]] || fail "Section: $(field Section)"
depends=$(field Depends)
for lib in libc6 libqt6core6 libqt6widgets6; do
  [[ $depends =~ (^|, )$lib( |,|$) ]] || fail "Depends lacks $lib: $depends"
done

contents=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }')
for path in ./usr/bin/dovrik ./usr/share/applications/org.dovrik.Dovrik.desktop \
  ./usr/share/metainfo/org.dovrik.Dovrik.metainfo.xml ./usr/share/man/man1/dovrik.1.gz \
  ./usr/share/doc/dovrik/copyright ./usr/share/doc/dovrik/changelog.gz \
  ./usr/share/icons/hicolor/scalable/apps/dovrik.svg ./usr/share/icons/hicolor/48x48/apps/dovrik.png; do
  grep -q " $path\$" <<<"$contents" || fail "the package lacks $path"
done
# Everything belongs to root; nothing is writable by others.
if grep -v '^[-d]r[-w][-x]r-[-x]r-[-x] root/root ' <<<"$contents"; then
  fail "files with unusual owner or mode (above)"
fi

report=$(lintian --fail-on none --tag-display-limit 0 "$deb" 2>&1)
echo "$report"
allowed=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$accepted" | awk '{ print $1 }')
bad=0
while read -r kind _ tag _; do
  case $kind in
    E:) bad=1 ;;
    W:) grep -qx "$tag" <<<"$allowed" || bad=1 ;;
  esac
done < <(grep -E '^[EW]: ' <<<"$report" || true)
((bad == 0)) || fail "lintian reports errors or warnings not accepted in $(basename "$accepted")"
echo "package fields, contents and lintian fine"
