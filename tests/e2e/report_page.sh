#!/usr/bin/env bash
# The report page in headless Chromium: a report that the Linux command-line
# scan writes from the built driver.html, plus reports built in the test the
# way the program builds them (tests/page/).
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
src=${KESTROVA_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${KESTROVA_BUILD_LINUX:-$src/build/linux}
scan=$build/kestrova-scan

command -v node >/dev/null && command -v npm >/dev/null || fail "Node.js and npm are needed for the page tests"
[ -x /usr/bin/chromium ] || [ -n "${KESTROVA_CHROMIUM:-}" ] || fail "Chromium is needed (scripts/deps.sh installs it)"
expect_file "$build/driver.html"

work=$(make_temp_home)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_RUNTIME_DIR= XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
mkdir -p "$XDG_CACHE_HOME" "$XDG_DATA_HOME"

# One root for the Linux adapters, merged from the fixture trees of the
# subsystems (DMI, disks, devices); without device fixtures the scan reads
# this machine.
sysroot=$work/sysroot
mkdir -p "$sysroot"
devices=$(ls -d "$src"/tests/data/devices/*/sys/bus 2>/dev/null | head -n 1 || true)
for tree in "$src"/tests/data/sysinfo/laptop "$src"/tests/data/ident/sysroot "${devices%/sys/bus}"; do
  if [ -n "$tree" ] && [ -d "$tree" ]; then cp -r "$tree"/. "$sysroot"/; fi
done

report=$work/scan-report.html
scan_with() {
  env "$@" "$scan" --template "$build/driver.html" --output "$report" >/dev/null 2>"$work/scan.err"
}
if [ -d "$sysroot/sys/bus" ] && scan_with KESTROVA_SYSROOT="$sysroot"; then
  echo "report from the fixture tree"
elif scan_with; then
  echo "report from this machine"
else
  cat "$work/scan.err" >&2
  fail "kestrova-scan wrote no report"
fi
expect_file "$report"

cd "$src/tests/page"
npm ci --no-audit --no-fund --loglevel=error >/dev/null
KESTROVA_SCAN_REPORT=$report KESTROVA_PAGE_WORK=$work KESTROVA_BUILD_LINUX=$build \
  node --test --test-concurrency=1 report_page.test.mjs
pass
