#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12 system (a chroot), starts the program from its
# installed path, purges the package and checks that none of its files stays behind.
#   chroot_install_test.sh PACKAGE.deb CACHE_DIR
#
# Set-up may use the Debian mirror: making the base system once (kept in CACHE_DIR as a tarball,
# so reruns unpack it in seconds) and fetching the package's dependencies into CACHE_DIR/archives.
# Everything after that runs in a private network namespace that has no way out at all.
# Each chroot step runs in its own mount and PID namespace: its mounts and processes vanish with
# it, whichever way the test ends. Exit 77 (skipped) without root or without the mirror when the
# cache cannot serve.
set -euo pipefail

here=$(dirname "$(realpath "$0")")
deb=$(realpath "$1")
cache=$2
mirror=${DOVRIK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=bookworm
rootfs_tar=$cache/$suite-minbase.tar.zst
archives=$cache/archives
lists=$cache/lists

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
step() { echo "--- $(date +%T) $*"; }

[[ $(id -u) -eq 0 ]] || skip "needs root (debootstrap, chroot and namespaces)"
for tool in debootstrap unshare chroot zstd curl ip; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (tools/deps.d/packaging.txt)"
done
[[ -f $deb ]] || fail "no package at $deb"
unshare --mount --net --pid --fork true 2>/dev/null || skip "this kernel refuses private namespaces"

mirror_reachable() { curl -fsS --max-time 15 -o /dev/null "$mirror/dists/$suite/Release"; }

mkdir -p "$cache" "$archives/partial" "$lists/partial"
# One run at a time per cache; under the lock, what a killed run left behind can go.
exec 9>"$cache/.lock"
flock -w 600 9 || fail "another run has held $cache/.lock for ten minutes"
for stale in "$cache"/run.*; do
  if [[ -d $stale ]] && ! grep -q " $stale/" /proc/mounts; then rm -rf --one-file-system "$stale"; fi
done
work=$(mktemp -d "$cache/run.XXXXXX")
root=$work/root
cleanup() {
  # Mounts live only in the namespaces of the steps, so nothing is mounted here any more; the
  # check guards the removal all the same, and --one-file-system never crosses into a mount.
  if grep -q " $work/" /proc/mounts; then
    echo "mounts left under $work; not removing it" >&2
  else
    rm -rf --one-file-system "$work"
  fi
}
trap cleanup EXIT

# Runs a command inside the chroot in fresh mount and PID namespaces (and with "offline", in a
# network namespace with nothing but a down loopback): a proc of its own, a minimal /dev on tmpfs,
# the cached package lists and archives bound in. No step may take more than five minutes.
in_chroot() {
  local mode=$1 net=()
  if [[ $mode == offline ]]; then net=(--net); fi
  shift
  timeout 300 unshare --mount --propagation private --pid --fork --kill-child "${net[@]}" -- \
    /bin/bash -euc '
      root=$1 archives=$2 lists=$3 mode=$4
      shift 4
      mount -t proc proc "$root/proc"
      mount -t tmpfs -o mode=0755,size=1m dovrik-dev "$root/dev"
      mknod -m 666 "$root/dev/null" c 1 3
      mknod -m 666 "$root/dev/zero" c 1 5
      mknod -m 666 "$root/dev/full" c 1 7
      mknod -m 666 "$root/dev/random" c 1 8
      mknod -m 666 "$root/dev/urandom" c 1 9
      ln -s /proc/self/fd "$root/dev/fd"
      mkdir "$root/dev/shm" "$root/dev/pts"
      mount --bind "$archives" "$root/var/cache/apt/archives"
      mount --bind "$lists" "$root/var/lib/apt/lists"
      # Offline: a network of loopback only, up as on any machine.
      if [[ $mode == offline ]]; then ip link set lo up; fi
      exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
    ' in_chroot "$root" "$archives" "$lists" "$mode" "$@"
}

# The base system: made once with debootstrap, kept as a tarball.
make_base() {
  step "making the base system with debootstrap (once; kept in $rootfs_tar)"
  mirror_reachable || skip "no cached base system and the Debian mirror $mirror is unreachable"
  local base=$work/base
  timeout 420 debootstrap --variant=minbase "$suite" "$base" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -20 "$work/debootstrap.log"; fail "debootstrap did not finish"; }
  rm -f "$base/var/cache/apt/archives/"*.deb
  tar -C "$base" --numeric-owner -cf - . | zstd -q -T2 -o "$rootfs_tar.tmp"
  mv "$rootfs_tar.tmp" "$rootfs_tar"
  rm -rf --one-file-system "$base"
}

[[ -f $rootfs_tar ]] || make_base

step "unpacking a fresh Debian 12 system"
mkdir "$root"
zstd -dc "$rootfs_tar" | tar -C "$root" --numeric-owner -xf -
# A throwaway system: dpkg may skip its fsync calls, which otherwise take most of the install time.
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/test-unsafe-io"
cp "$deb" "$here/start_installed.sh" "$root/tmp/"
pkg=/tmp/$(basename "$deb")
chmod 0644 "$root$pkg"

# Set-up: the package's dependencies into the archive cache. Offline first (the cache may hold
# them all); then from the mirror, with fresh package lists (kept in the cache too) when needed.
fetch_ok() { in_chroot "$1" apt-get install -y -q --no-install-recommends --download-only "$pkg"; }
step "fetching dependencies into the cache"
if ! fetch_ok offline >"$work/fetch.log" 2>&1; then
  mirror_reachable || skip "the package's dependencies are not cached and the mirror $mirror is unreachable"
  if ! fetch_ok online >"$work/fetch.log" 2>&1; then
    in_chroot online apt-get update -q >"$work/update.log" 2>&1 ||
      { cat "$work/update.log"; fail "apt-get update in the chroot"; }
    fetch_ok online >"$work/fetch.log" 2>&1 || { cat "$work/fetch.log"; fail "fetching dependencies"; }
  fi
fi

# From here on nothing can leave the machine.
step "installing the package (offline)"
in_chroot offline apt-get install -y -q --no-install-recommends "$pkg" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "apt-get install ./$(basename "$deb")"; }
in_chroot offline dpkg -L dovrik >"$work/files.txt"
grep -qx /usr/bin/dovrik "$work/files.txt" || fail "the package has no /usr/bin/dovrik"

step "starting /usr/bin/dovrik"
in_chroot offline /bin/bash /tmp/start_installed.sh || fail "dovrik did not start from its installed path"

step "purging the package"
in_chroot offline apt-get remove --purge -y -q dovrik >"$work/purge.log" 2>&1 ||
  { cat "$work/purge.log"; fail "apt-get remove --purge dovrik"; }
status=$(in_chroot offline dpkg-query -W -f '${db:Status-Status}' dovrik 2>/dev/null || true)
[[ -z $status || $status == not-installed ]] || fail "dpkg still knows dovrik after the purge ($status)"
# Each file of the package must be gone; a directory may stay only when another package owns it.
in_chroot offline /bin/bash -c '
  left=0
  while read -r path; do
    [[ $path == /. ]] && continue
    [[ -e $path || -L $path ]] || continue
    if [[ -d $path && ! -L $path ]] && dpkg -S "$path" >/dev/null 2>&1; then continue; fi
    echo "left behind: $path"; left=1
  done
  # Nor anything else named for it (what the program made at run time lives under /tmp).
  stray=$(find / -xdev \( -path /tmp -o -path /proc -o -path /var/cache/apt/archives \) -prune \
    -o -iname "*dovrik*" -print)
  if [[ -n $stray ]]; then echo "left behind: $stray"; left=1; fi
  exit $left
' <"$work/files.txt" || fail "files of the package remain after the purge"
step "done: installed, started and purged cleanly"
