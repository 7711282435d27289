#!/usr/bin/env bash
# The Linux command-line tool end to end: report path on stdout, statuses on
# stderr, the exit codes, and a template missing.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
scan=$KESTROVA_BUILD_LINUX/kestrova-scan
home=$(make_temp_home)
export HOME=$home XDG_RUNTIME_DIR= XDG_CACHE_HOME=$home/cache XDG_DATA_HOME=$home/data
mkdir -p "$XDG_CACHE_HOME"

out=$("$scan" 2>"$home/err")
expect_eq "$out" "$XDG_CACHE_HOME/pellucor/driver.html" "report path on stdout"
expect_file "$out"
grep -q "Collecting Driver Information" "$home/err" || fail "status lines on stderr"
if grep -q '\[drivers\]\|\[hwid\]\|\[scanid\]\|\[setup_api_log\]\|\[proc\]' "$out"; then
  fail "placeholders left in the report"
fi
[ "$(stat -c %a "$XDG_CACHE_HOME/pellucor")" = 700 ] || fail "work folder is not private"

"$scan" --output "$home/copy.html" >/dev/null 2>&1
cmp -s "$out" "$home/copy.html" || fail "--output copy differs from the work report"

set +e
"$scan" --template "$home/none.html" >/dev/null 2>"$home/err"; rc=$?
"$scan" --bogus >/dev/null 2>&1; rc2=$?
set -e
expect_eq "$rc" 3 "exit code for a missing template"
grep -q "Unable to file template , please re-install the application" "$home/err" || fail "missing-template text"
expect_eq "$rc2" 2 "exit code for a usage error"

# libsystemd and libkmod (and what they bring) are opened only when a scan
# has a journal or a module folder to read: never at every start.
if readelf -d "$scan" | grep NEEDED | grep -q 'libsystemd\|libkmod'; then
  fail "kestrova-scan loads libsystemd or libkmod at start"
fi
pass
