#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
# --scan: only what scripts/scan needs.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libfltk1.3-dev libkmod-dev
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  wine wine32:i386 wine64
  xvfb xauth xdotool x11-utils imagemagick libxfixes3
  chromium chromium-driver
  python3 file
)
# Driver identification (catalog, matcher, service): not needed for a scan.
identification=(
  libsqlite3-dev nlohmann-json3-dev
  libcpp-httplib-dev libpqxx-dev postgresql curl
)
[ "${1:-}" = "--scan" ] || packages+=("${identification[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
