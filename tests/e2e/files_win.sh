#!/usr/bin/env bash
# kestrova-scan.exe under Wine with names the ANSI code page cannot spell:
# the user's profile, its Temp and AppData folders and the program's own
# folder hold Greek and Chinese letters. The report must be written where
# TEMP says and found by the shell's "open" and by --output, the template
# beside the program read and the log written. Then the template checks: a
# folder, a pipe and a pattern are a missing template (exit 3, the reason,
# no wait), and a log that cannot be written does not end the scan.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/wine.sh"
build=$KESTROVA_BUILD_WIN32
[ -x "$build/kestrova-scan.exe" ] || fail "kestrova-scan.exe not built in $build"
: "${WINEPREFIX:?needs the shared Wine prefix}"

run=$(mktemp -d "$build/e2e-files.XXXXXX")
drive=$WINEPREFIX/drive_c
name='Ελένη 张伟'
win_profile="C:\\users\\$name"
profile=$drive/users/$name
install="$drive/Προγράμματα 程序/Kestrova"
opened=$drive/kestrova-files-opened.html

# The environment lives in the shared prefix: keep it, put it back after.
wine reg export 'HKCU\Environment' "$run/env.reg" /y >/dev/null 2>&1 || true
wine reg export 'HKCU\Volatile Environment' "$run/volatile.reg" /y >/dev/null 2>&1 || true
html_association_keep
cleanup() {
  [ -s "$run/env.reg" ] && wine reg import "$run/env.reg" >/dev/null 2>&1 || true
  [ -s "$run/volatile.reg" ] && wine reg import "$run/volatile.reg" >/dev/null 2>&1 || true
  html_association_restore
  rm -rf "$profile" "$drive/Προγράμματα 程序" "$opened"
  rm -rf "$run"
}
trap cleanup EXIT

mkdir -p "$profile/Temp" "$profile/AppData/Roaming" "$profile/Desktop" "$install"
cp "$build/kestrova-scan.exe" "$build/driver.html" "$install/"
set_profile() {  # APPDATA value
  wine reg add 'HKCU\Environment' /v TEMP /t REG_SZ /d "$win_profile\\Temp" /f >/dev/null 2>&1
  wine reg add 'HKCU\Volatile Environment' /v USERPROFILE /t REG_SZ /d "$win_profile" /f \
    >/dev/null 2>&1
  wine reg add 'HKCU\Volatile Environment' /v APPDATA /t REG_SZ /d "$1" /f >/dev/null 2>&1
}
set_profile "$win_profile\\AppData\\Roaming"
# What a program started now sees.
env_seen=$(timeout 30 wine cmd /c 'echo %TEMP%' | tr -d '\r')
[ "$env_seen" != 'C:\users\'"$(id -un)"'\Temp' ] || fail "the prefix kept its own TEMP"

# Opening the report copies it: the copy exists only if the shell received
# the report's true path.
cat >"$run/assoc.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Classes\\.html]
@="htmlfile"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\htmlfile\\shell\\open\\command]
@="C:\\\\windows\\\\system32\\\\cmd.exe /c copy /y \\"%1\\" C:\\\\kestrova-files-opened.html"
REG
wine reg import "$run/assoc.reg" >/dev/null 2>&1 || fail "could not import the .html association"

scan() {  # arguments...; sets rc, out, err
  rc=0
  (cd "$install" && timeout 120 wine ./kestrova-scan.exe "$@") >"$run/out" 2>"$run/err" || rc=$?
  out=$(tr -d '\r' <"$run/out")
  err=$(tr -d '\r' <"$run/err")
}

report=$profile/Temp/pellucor/driver.html
log=$profile/AppData/Roaming/pellucor/log.txt
copy="$win_profile\\Desktop\\αντίγραφο.html"
scan --open
expect_eq "$rc" 0 "exit of the scan in the profile that code page cannot spell ($err)"
expect_file "$report"
! grep -q '\[drivers\]\|\[hwid\]\|\[scanid\]\|\[setup_api_log\]' "$report" ||
  fail "placeholders left: the template was not filled"
grep -aq 'Start scanning file with mode:online' "$log" || fail "no log entry in the profile"
for ((i = 0; i < 300; i++)); do [ -s "$opened" ] && break; sleep 0.1; done
[ -s "$opened" ] || fail "the shell did not find the report it was asked to open"
cmp -s "$report" "$opened" || fail "the shell opened something else than the report"

# Redirected to a file, the path comes in the ANSI code page (no console to
# write Unicode to): one line, the letters 1252 lacks replaced, no UTF-8.
expect_eq "$(wc -l <"$run/out")" 1 "lines on standard output"
[[ "$out" == 'C:\users\'*'\Temp\pellucor\driver.html' ]] || fail "no report path on stdout: $out"
iconv -f utf-8 -t utf-8 <"$run/out" >/dev/null 2>&1 && grep -qaP '[\x80-\xff]' "$run/out" &&
  fail "standard output carries UTF-8, not the ANSI code page"

scan --output "$copy"
expect_eq "$rc" 0 "exit of the offline scan ($err)"
cmp -s "$report" "$profile/Desktop/αντίγραφο.html" || fail "--output did not write the copy"
cp -p "$report" "$run/good.html"

# Templates that are not files: no wait, exit 3, the reason, nothing written.
mkfifo "$run/fifo.html"
check_template() {  # template, reason
  scan --template "$1"
  expect_eq "$rc" 3 "exit for the template $1"
  grep -q "Unable to file template , please re-install the application" <<<"$err" ||
    fail "no template-missing text for $1"
  grep -qF "$2" <<<"$err" || fail "no reason '$2' for $1: $err"
  cmp -s "$report" "$run/good.html" || fail "the report changed after the template $1"
}
check_template 'C:\windows' "it is a folder, not a file"
check_template "$(winepath -w "$run/fifo.html")" "it is not a regular file"
check_template 'driv*.html' "Could not open driv*.html"

# An activity log that cannot be written: said once, the scan goes on.
set_profile "$win_profile\\missing\\Roaming"
scan
expect_eq "$rc" 0 "exit with an unwritable log ($err)"
expect_eq "$(grep -c 'activity log could not be written' <<<"$err")" 1 "log problem lines"
cmp -s "$report" "$run/good.html" && fail "no new report with an unwritable log"
pass
