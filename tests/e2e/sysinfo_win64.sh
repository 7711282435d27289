#!/usr/bin/env bash
# The 32-bit program on 64-bit Windows: in a throw-away 64-bit prefix (the
# shared one is 32-bit) the computer information block says
# "OSArchitecture=64bits", and the WMI adapter behaves as in the 32-bit prefix.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$KESTROVA_SRC/scripts/lib/wine.sh"
exe=$KESTROVA_BUILD_WIN32/tests/test_sysinfo.exe
expect_file "$exe"
[ -x /usr/lib/wine/wine64 ] || fail "wine64 is not installed (scripts/deps.sh installs it)"

# This script's own process: the shared prefix's settings are untouched.
out=$(mktemp "${TMPDIR:-/tmp}/sysinfo-win64.XXXXXX")
cleanup() {
  wine_prefix_stop
  rm -f "$out"
}
trap cleanup EXIT

wine_prefix_start "$KESTROVA_BUILD_WIN32/sysinfo-win64-prefix" win64
# Output to a file: a process left behind holding a pipe would hang $(...).
KESTROVA_EXPECT_OS_ARCHITECTURE=64bits wine "$exe" --gtest_filter='WinWmiTest.*' >"$out" 2>&1 ||
  { cat "$out" >&2; fail "WMI adapter tests in a 64-bit prefix"; }
grep -q '\[  PASSED  \] 5 tests' "$out" || { cat "$out" >&2; fail "not every adapter test ran"; }
pass
