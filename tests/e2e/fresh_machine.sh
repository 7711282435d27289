#!/usr/bin/env bash
# A new user's machine: a minimal Debian 12 root (mmdebstrap, apt variant,
# this machine's apt sources) with nothing but apt, the tree cloned into it
# (its committed state), and scripts/scan run inside it as root. It must
# install what it needs by itself, build, and write a finished report, and
# install nothing the tests alone need.
# The bare root is kept as a tarball under build/fresh-machine/ (one per set
# of apt sources), and downloaded packages in a cache beside it, so a later
# run downloads little; every run installs and builds from scratch.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
src=${KESTROVA_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
[ "$(id -u)" -eq 0 ] || fail "needs root (mmdebstrap, chroot, mounts)"
command -v mmdebstrap >/dev/null || fail "mmdebstrap is not installed"

cache=$src/build/fresh-machine
mkdir -p "$cache/archives/partial"

# This machine's apt sources, as mmdebstrap reads them.
sources=()
[ -s /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list && sources+=(/etc/apt/sources.list)
for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -s "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -gt 0 ] || fail "no apt sources on this machine"
key=$(cat "${sources[@]}" | sha256sum | cut -c1-12)
base=$cache/bookworm-apt-$key.tar
if [ ! -s "$base" ]; then
  echo "Making the bare Debian 12 root ($base)" >&2
  rm -rf "$cache"/bookworm-apt-*.tar "$cache/making.tar"
  mmdebstrap --quiet --variant=apt --mode=root --format=tar bookworm "$cache/making.tar" "${sources[@]}" ||
    fail "mmdebstrap could not make the bare root"
  mv "$cache/making.tar" "$base"
fi

root=$(mktemp -d "$cache/root.XXXXXX")
mounted=()
mount_into() {  # mount arguments... target (inside the root)
  local target=${*: -1}
  mkdir -p "$target"
  mount "$@"
  mounted+=("$target")
}
cleanup() {
  local i rc=0
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[i]}" 2>/dev/null || umount -R -l "${mounted[i]}" || rc=1
  done
  # Never remove the root while anything of the host is still mounted in it.
  if [ $rc -eq 0 ] && ! grep -q " ${root}/" /proc/mounts; then
    rm -rf "$root"
  else
    echo "fresh_machine.sh: left $root in place: something is still mounted there" >&2
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

tar -C "$root" -xf "$base"
git clone -q "$src" "$root/root/kestrova" || fail "could not clone the tree"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
mount_into -t proc proc "$root/proc"
mount_into -t sysfs sysfs "$root/sys"
mount_into --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
mount_into --bind "$cache/archives" "$root/var/cache/apt/archives"

# Bounded here, so that whatever runs inside is ended, and the root
# unmounted, before the test runner's own limit.
limit=${KESTROVA_FRESH_SCAN_TIMEOUT:-480}
start=$(date +%s)
set +e
timeout --kill-after=10 "$limit" chroot "$root" /usr/bin/env -i HOME=/root \
  PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 TERM=dumb \
  bash -c 'cd /root/kestrova && scripts/scan' </dev/null >"$root/scan.out" 2>"$root/scan.err"
rc=$?
set -e
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  tail -20 "$root/scan.err" >&2
  fail "scripts/scan took longer than $limit s in the bare root"
fi
echo "scripts/scan in the bare root took $(($(date +%s) - start)) s" >&2
if [ $rc -ne 0 ]; then
  tail -40 "$root/scan.err" >&2
  fail "scripts/scan failed in the bare root (exit $rc)"
fi

report=$(sed -n 's/^Report: //p' "$root/scan.out")
[ -n "$report" ] || fail "scripts/scan printed no report path: $(cat "$root/scan.out")"
expect_file "$root$report"
grep -q '\[drivers\]\|\[hwid\]\|\[scanid\]\|\[setup_api_log\]' "$root$report" &&
  fail "placeholders left in the report"
grep -q '</html>' "$root$report" || fail "the report is not a finished page"

# Only the scan's needs: none of the test tools.
for p in wine wine32 wine64 chromium mingw-w64 g++-mingw-w64-i686-posix xvfb googletest nsis; do
  if chroot "$root" dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q ' installed$'; then
    fail "scripts/scan installed $p, which only the tests need"
  fi
done
pass
