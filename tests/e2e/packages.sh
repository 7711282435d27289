#!/usr/bin/env bash
# The release packages as a user gets them (dist/, written by scripts/release):
#  - the .deb installed with apt: kestrova-scan from PATH finds its template
#    under /usr/share/kestrova, the menu entry is valid, lintian finds no
#    error, every program has its manual page, and a purge leaves nothing;
#  - the zip unpacked into a folder whose name has a space and a non-ASCII
#    letter, and a scan from there;
#  - the installer, silently, for the current user in a throw-away Wine
#    prefix: files, Start-menu entry, uninstall key, a scan with the
#    installed program, then a silent uninstall that removes all of it.
# Needs root (apt) and the display of the test session (Wine).
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
src=${KESTROVA_SRC:?}
dist=$src/dist
[ "$(id -u)" -eq 0 ] || fail "needs root to install the package with apt"

version=$(cat "$src/build/release-linux/kestrova-version.txt" 2>/dev/null) ||
  fail "no release build: run scripts/release first"
deb=$dist/kestrova_${version}_amd64.deb
zip=$dist/kestrova-${version}-win32.zip
setup=$dist/kestrova-${version}-win32-setup.exe
for f in "$deb" "$zip" "$setup" "$dist/SHA256SUMS"; do expect_file "$f"; done
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match dist/"

# Whether dpkg has the package (installed, or its configuration left).
deb_present() { dpkg-query -W -f='${Status}\n' kestrova 2>/dev/null | grep -q ' installed$\| config-files$'; }

work=$(mktemp -d "$src/build/e2e-packages.XXXXXX")
template=/usr/share/kestrova/driver.html
cleanup() {
  [ -f "$work/driver.html.kept" ] && mv -f "$work/driver.html.kept" "$template"
  if deb_present; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=300 kestrova >/dev/null 2>&1 || true
  fi
  declare -F wine_prefix_stop >/dev/null && wine_prefix_stop
  rm -rf "$work"
}
trap cleanup EXIT

# --- Debian package ----------------------------------------------------------
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300 "$@"; }
if deb_present; then
  fail "a kestrova package is already installed here; remove it first"
fi
# What of the package's paths exists before, so the purge can be checked.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' | sort >"$work/paths"
while read -r p; do [ -e "$p" ] && echo "$p"; done <"$work/paths" >"$work/before"
if grep -q '^/usr/bin/kestrova\|^/usr/share/kestrova' "$work/before"; then
  fail "Kestrova files are already on this machine: $(grep kestrova "$work/before" | head -3)"
fi

apt_get install "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt could not install $deb"; }
expect_eq "$(command -v kestrova-scan)" /usr/bin/kestrova-scan "kestrova-scan on PATH"
expect_eq "$(kestrova-scan --version)" "kestrova-scan $version" "installed kestrova-scan --version"
if [ -x /usr/bin/kestrova ]; then
  expect_eq "$(kestrova --version)" "kestrova $version" "installed kestrova --version"
fi
for b in $(dpkg -L kestrova | grep '^/usr/bin/'); do
  [ -s "/usr/share/man/man1/$(basename "$b").1.gz" ] || fail "no manual page for $b"
done

home=$work/home
mkdir -p "$home/cache"
run_scan() { HOME=$home XDG_RUNTIME_DIR= XDG_CACHE_HOME=$home/cache XDG_DATA_HOME=$home/data kestrova-scan "$@"; }
report=$(cd / && run_scan 2>"$work/scan.err") || { cat "$work/scan.err" >&2; fail "installed kestrova-scan failed"; }
expect_eq "$report" "$home/cache/pellucor/driver.html" "report path from the installed program"
expect_file "$report"
grep -q '\[drivers\]\|\[hwid\]\|\[scanid\]' "$report" && fail "placeholders left in the installed program's report"
# The template it used is the installed one: without it the scan stops.
[ ! -e /usr/bin/driver.html ] || fail "a template beside the installed programs"
mv "$template" "$work/driver.html.kept"
set +e
(cd / && run_scan >/dev/null 2>&1)
rc=$?
set -e
mv "$work/driver.html.kept" "$template"
expect_eq "$rc" 3 "installed kestrova-scan without /usr/share/kestrova/driver.html"

for d in /usr/share/applications/kestrova*.desktop; do
  desktop-file-validate "$d" || fail "desktop entry $d is not valid"
done
# The service's unit and settings, as systemd reads them.
if [ -x /usr/bin/kestrova-service ]; then
  unit=/usr/lib/systemd/system/kestrova-service.service
  [ -f "$unit" ] || fail "no systemd unit for kestrova-service"
  [ -f /etc/default/kestrova-service ] || fail "no /etc/default/kestrova-service"
  dpkg-query -W -f='${Conffiles}\n' kestrova | grep -q '/etc/default/kestrova-service' ||
    fail "/etc/default/kestrova-service is not a conffile"
  systemd-analyze verify --man=no "$unit" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; fail "systemd-analyze verify finds fault with $unit"; }
fi
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian reports errors for $deb"; }

apt_get purge kestrova >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt could not purge kestrova"; }
deb_present && fail "kestrova still known to dpkg after the purge"
while read -r p; do [ -e "$p" ] && echo "$p"; done <"$work/paths" >"$work/after"
diff -u "$work/before" "$work/after" >&2 || fail "the purge left files behind"

# --- Windows: a throw-away prefix of its own --------------------------------
source "$src/scripts/lib/wine.sh"
wine_prefix_start "$work/wineprefix" win32
user_dir=$WINEPREFIX/drive_c/users/$(id -un)
[ -d "$user_dir" ] || user_dir=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -1)

# Runs a Windows scan program; its stdout (the report's Windows path) goes to
# $work/out, the path as seen from here to $report.
wine_scan() {  # program.exe
  wine "$1" >"$work/out" 2>"$work/scan.err" || { cat "$work/scan.err" >&2; fail "$1 failed"; }
  report=$(winepath -u "$(tr -d '\r' <"$work/out")")
  expect_file "$report"
  grep -q '\[drivers\]\|\[hwid\]\|\[scanid\]' "$report" && fail "placeholders left in the report of $1"
  rm -f "$report"
}

# The portable zip, from a folder name that needs quoting and the code page.
portable="$WINEPREFIX/drive_c/Kestrova Tést"
mkdir -p "$portable"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$portable"
for f in kestrova.exe kestrova-scan.exe kestrova-match.exe driver.html README.txt LICENSE.txt; do expect_file "$portable/$f"; done
for f in README.txt LICENSE.txt; do
  expect_eq "$(grep -c $'\r$' "$portable/$f")" "$(wc -l <"$portable/$f")" "lines of $f ending in CR LF"
done
expect_eq "$(wine "$portable/kestrova-scan.exe" --version | tr -d '\r')" "kestrova-scan $version" "zip kestrova-scan.exe --version"
expect_eq "$(wine "$portable/kestrova-match.exe" --version | tr -d '\r')" "kestrova-match $version" "zip kestrova-match.exe --version"
wine_scan "$portable/kestrova-scan.exe"

# The installer, for this user only, silently.
inst=$user_dir/AppData/Local/Programs/Kestrova
link=$user_dir/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/Kestrova.lnk
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrova'
wine "$setup" /S || fail "the installer failed"
wineserver -w
for f in kestrova.exe kestrova-scan.exe kestrova-match.exe driver.html README.txt LICENSE.txt uninstall.exe; do expect_file "$inst/$f"; done
expect_file "$link"
reg_value() { wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print}'; }
expect_eq "$(reg_value DisplayName)" Kestrova "uninstall key DisplayName"
expect_eq "$(reg_value DisplayVersion)" "$version" "uninstall key DisplayVersion"
expect_eq "$(reg_value Publisher)" Kestrova "uninstall key Publisher"
reg_value UninstallString | grep -qi 'uninstall.exe' || fail "uninstall key has no UninstallString"

# One version everywhere: the programs' resources and manifest.
quad=$version
while [ "$(tr -cd . <<<"$quad" | wc -c)" -lt 3 ]; do quad=$quad.0; done
expect_eq "$(python3 "$src/tests/e2e/lib/pe_version.py" "$inst/kestrova.exe")" \
  "fixed=$quad product=$version file=$version manifest=$quad" "kestrova.exe version resource and manifest"
expect_eq "$(python3 "$src/tests/e2e/lib/pe_version.py" "$inst/kestrova-scan.exe")" \
  "fixed=$quad product=$version file=$version manifest=" "kestrova-scan.exe version resource"
expect_eq "$(python3 "$src/tests/e2e/lib/pe_version.py" "$inst/kestrova-match.exe")" \
  "fixed=$quad product=$version file=$version manifest=" "kestrova-match.exe version resource"
expect_eq "$(python3 "$src/tests/e2e/lib/pe_version.py" "$setup")" \
  "fixed=$quad product=$version file=$version manifest=" "installer version resource"

wine_scan "$inst/kestrova-scan.exe"

wine "$inst/uninstall.exe" /S || fail "the uninstaller failed"
wineserver -w  # it goes on in a copy of itself
[ ! -e "$inst" ] || fail "files left after uninstalling: $(ls "$inst")"
[ ! -e "$link" ] || fail "Start-menu entry left after uninstalling"
wine reg query "$key" >/dev/null 2>&1 && fail "uninstall key left after uninstalling"
pass
