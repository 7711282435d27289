#!/usr/bin/env bash
# Installs the Debian packages that are missing, for one of two purposes:
#   scripts/deps.sh scan   what the Linux programs need to build and scan
#                          (scripts/scan): a newcomer's machine gets no more
#   scripts/deps.sh test   everything the builds, the tests and the release
#                          packages need (scripts/test); the default
set -euo pipefail
what=${1:-test}

# The Linux window and scan programs. FLTK's CMake configuration insists
# that the fluid program exists, so fluid is here though nothing runs it.
scan=(
  build-essential cmake pkg-config
  libfltk1.3-dev fluid libkmod-dev libsystemd-dev
  pci.ids usb.ids
)
# The rest: tests and benchmarks, the Windows build and Wine, the display
# tests, the identification programs, the release packages and their checks.
test=(
  git ccache clang-format
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  systemd systemd-journal-remote
  libsqlite3-dev libpqxx-dev libcpp-httplib-dev libboost-dev nlohmann-json3-dev postgresql curl
  libarchive-dev libssl-dev gcab zlib1g-dev
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 binutils-mingw-w64-i686
  wine wine32:i386 wine64
  xvfb xauth xdotool x11-utils imagemagick libxfixes3
  chromium chromium-driver
  python3 file locales
  dpkg-dev fakeroot lintian desktop-file-utils nsis mmdebstrap
  clang-14 libclang-rt-14-dev
)

case "$what" in
  scan) packages=("${scan[@]}") ;;
  test) packages=("${scan[@]}" "${test[@]}") ;;
  *) echo "usage: scripts/deps.sh [scan|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "scripts/deps.sh: run as root, or install sudo" >&2; exit 1; }
  SUDO="sudo"
fi
if [[ " ${missing[*]}" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
