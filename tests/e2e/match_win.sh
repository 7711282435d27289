#!/usr/bin/env bash
# kestrova-match.exe under Wine, in a fresh prefix:
# - started with no arguments from another folder, as a double-click starts
#   it, with no report yet: says to run the scan first, writes nothing;
# - on a stick holding no INF file: says no drivers were found, writes nothing;
# - on a stick (a drive of its own, the program at its root) with a drivers
#   folder, beside a report planted where the scan writes it: the results
#   page is written beside the report, names the planted Ethernet device's
#   driver, and is handed to the shell; nothing else is written;
# - with arguments: the same JSON as the Linux program for the same report
#   and catalog.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$KESTROVA_SRC/scripts/lib/wine.sh"
win=$KESTROVA_BUILD_WIN32
linux=$KESTROVA_BUILD_LINUX
expect_file "$win/kestrova-match.exe"
for program in kestrova-scan kestrova-match; do
  [ -x "$linux/$program" ] || fail "build $program first"
done

work=$(make_temp_home)
cleanup() {
  wine_prefix_stop
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work XDG_RUNTIME_DIR= XDG_CACHE_HOME=$work/cache

# The report: the Linux scan of the fixture machine, whose Ethernet
# controller the crafted Intel package drives.
sysroot=$work/sysroot
mkdir -p "$sysroot"
for tree in "$KESTROVA_SRC"/tests/data/sysinfo/laptop "$KESTROVA_SRC"/tests/data/ident/sysroot \
  "$KESTROVA_SRC"/tests/data/devices/sysroot; do
  cp -r "$tree"/. "$sysroot"/
done
KESTROVA_SYSROOT=$sysroot "$linux/kestrova-scan" --template "$linux/driver.html" \
  --output "$work/report.html" >/dev/null 2>"$work/scan.err" ||
  { cat "$work/scan.err" >&2; fail "kestrova-scan wrote no report"; }

stick=$work/stick
mkdir -p "$stick/drivers" "$work/empty" "$work/elsewhere"
cp -r "$KESTROVA_SRC"/tests/data/catalog/e2e/. "$stick/drivers/"
cp "$win/kestrova-match.exe" "$stick/"
cp "$win/kestrova-match.exe" "$work/empty/"

wine_prefix_start "$work/prefix"
user_dir=$WINEPREFIX/drive_c/users/$(id -un)
[ -d "$user_dir" ] || user_dir=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -1)
reports=$user_dir/Temp/pellucor
# The stick: drive S: of the prefix.
ln -s "$stick" "$WINEPREFIX/dosdevices/s:"
# Opening a page records its path instead of starting a browser.
cat >"$work/assoc.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Classes\.html]
@="htmlfile"

[HKEY_LOCAL_MACHINE\Software\Classes\htmlfile\shell\open\command]
@="C:\\windows\\system32\\cmd.exe /c echo %1>>C:\\opened.txt"
REG
wine reg import "$work/assoc.reg" >/dev/null 2>&1 || fail "could not import the .html association"
opened=$WINEPREFIX/drive_c/opened.txt

double_click() {  # program.exe: runs it with no arguments from another folder
  set +e
  (cd "$work/elsewhere" && timeout 120 wine "$1" </dev/null >"$work/out.txt" 2>"$work/err.txt")
  rc=$?
  set -e
  tr -d '\r' <"$work/err.txt" >"$work/err.unix"
}

# No report yet.
rm -rf "$reports"
double_click 'S:\kestrova-match.exe'
expect_eq "$rc" 3 "exit status without a report"
grep -q "Run the scan (kestrova.exe) on this computer first" "$work/err.unix" ||
  { cat "$work/err.unix" >&2; fail "no 'run the scan first' message"; }
[ ! -e "$reports" ] || fail "a run without a report created $reports"

mkdir -p "$reports"
cp "$work/report.html" "$reports/driver.html"

# A stick without drivers.
double_click "$work/empty/kestrova-match.exe"
expect_eq "$rc" 4 "exit status with no INF beside the program"
grep -q "no drivers found: there is no INF file in" "$work/err.unix" ||
  { cat "$work/err.unix" >&2; fail "no 'no drivers found' message"; }
expect_eq "$(ls "$reports")" "driver.html" "files beside the report after a run without drivers"

# The stick of drivers.
touch "$work/before"
sleep 1
double_click 'S:\kestrova-match.exe'
[ "$rc" -eq 0 ] || { cat "$work/err.unix" >&2; fail "kestrova-match.exe exit status $rc"; }
page=$reports/driver-results.html
expect_file "$page"
grep -q 'e1d68x64\.inf' "$page" || fail "the results page does not name the Ethernet controller's driver"
grep -q 'Ethernet Connection (2) I219-V' "$page" || fail "the results page does not list the Ethernet controller"
grep -qF 'skipped S:\drivers\broken\broken.inf:3: unknown Signature' "$work/err.unix" ||
  { cat "$work/err.unix" >&2; fail "the malformed INF on the stick was not reported"; }
for _ in $(seq 1 40); do [ -s "$opened" ] && break; sleep 0.5; done
got=$(tr -d '\r"' <"$opened" | tr 'A-Z' 'a-z')
want=$(printf 'c:\\users\\%s\\temp\\pellucor\\driver-results.html' "$(basename "$user_dir")" | tr 'A-Z' 'a-z')
expect_eq "$got" "$want" "the page the shell was asked to open"
written=$(find "$WINEPREFIX/drive_c/users" "$stick" -type f -newer "$work/before" | sort)
expect_eq "$written" "$page" "files written by the run"

# With arguments: the Linux program's JSON, byte for byte.
"$linux/kestrova-match" --catalog "$stick/drivers" --json "$work/report.html" >"$work/linux.json" 2>/dev/null ||
  fail "the Linux kestrova-match failed"
wine "$stick/kestrova-match.exe" --catalog "$(winepath -w "$stick/drivers")" --json \
  "$(winepath -w "$work/report.html")" >"$work/win.json" 2>"$work/err.txt" ||
  { cat "$work/err.txt" >&2; fail "kestrova-match.exe with arguments"; }
cmp -s "$work/linux.json" "$work/win.json" ||
  { diff "$work/linux.json" "$work/win.json" | head -20 >&2; fail "the JSON differs from the Linux program's"; }
pass
