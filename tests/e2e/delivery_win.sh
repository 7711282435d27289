#!/usr/bin/env bash
# kestrova.exe under Wine, report delivery and the activity log:
# - Start with optInternet: the shell's "open" receives the work report's path
#   (an HKLM association records it), the window is minimised, the status
#   reads "Sending information";
# - Start with optInternet2 opens "Save File As..." on the desktop folder with
#   "drivers"; a typed name and Return save a copy equal to the work-folder
#   report byte for byte, and the copy hint is shown once;
# - Escape cancels: no file, no message, the status reads "Save file to desktop";
# - Return alone saves under the suggested name on the desktop;
# - every scan adds exactly one log entry, also one that ends early (no template);
# - a missing template, and a folder in its place, are named with the reason.
# What Wine does with the default extension "doc": a name typed without one
# gets ".html", taken from the selected "HTML (.html)" filter; "doc" is never
# used while that filter is selected.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/wine.sh"
wine_app_folder delivery

# The work report, the log and the desktop live in the shared prefix: keep
# what was there and put it back afterwards.
log=$user_dir/AppData/Roaming/pellucor/log.txt
desktop=$user_dir/Desktop
[ -d "$desktop" ] || desktop=$(find "$user_dir" -mindepth 1 -maxdepth 1 -iname desktop | head -1)
[ -e "$desktop" ] || fail "no desktop folder in the prefix"
desktop_link=
typed=kestrova-e2e-copy
ours=("$desktop/$typed.html" "$desktop/$typed.doc" "$desktop/$typed" "$desktop/drivers.html"
  "$desktop/drivers.doc" "$desktop/drivers")
[ -e "$work_report" ] && cp -p "$work_report" "$run/previous-report.html"
[ -e "$log" ] && cp -p "$log" "$run/previous-log.txt"
opened=$WINEPREFIX/drive_c/kestrova-delivery-opened.txt
rm -f "$opened"
html_association_keep

app_pid=
ours_checked=
cleanup() {
  if [ -n "$app_pid" ]; then
    timeout 20 wine "$probe" close >/dev/null 2>&1 || true
    sleep 1
    kill "$app_pid" 2>/dev/null || true
  fi
  [ -n "$ours_checked" ] && rm -f "${ours[@]}"
  rm -f "$opened"
  if [ -n "$desktop_link" ]; then
    rm -rf "$desktop"
    ln -s "$desktop_link" "$desktop"
  fi
  html_association_restore
  rm -f "$work_report" "$log"
  [ -e "$run/previous-report.html" ] && cp -p "$run/previous-report.html" "$work_report"
  [ -e "$run/previous-log.txt" ] && cp -p "$run/previous-log.txt" "$log"
  rm -rf "$run"
}
trap cleanup EXIT

# Wine links the desktop to the host's (or to $HOME when there is none): the
# test saves into a folder of the prefix's own instead, and puts the link back.
if [ -L "$desktop" ]; then
  desktop_link=$(readlink "$desktop")
  rm "$desktop"
  mkdir "$desktop"
fi
for f in "${ours[@]}"; do [ -e "$f" ] && fail "$f exists before the test"; done
ours_checked=1

entries() {  # the number of scan entries in the log
  [ -e "$log" ] || { echo 0; return; }
  grep -ac 'Start scanning file with mode:' "$log" || true
}
state() { timeout 20 wine "$probe" state | tr -d '\r'; }
# Visible windows of kestrova.exe whose title matches: the Linux window of
# the same title may share the display.
windows_titled() {  # regex
  local w
  for w in $(xdotool search --onlyvisible --class '^kestrova\.exe$' 2>/dev/null); do
    [[ "$(xdotool getwindowname "$w" 2>/dev/null)" =~ $1 ]] && echo "$w"
  done
  return 0
}
# The main window, plus one per message box.
kestrova_windows() { windows_titled '^Kestrova$' | wc -l; }
await_windows() {  # count seconds
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    [ "$(kestrova_windows)" -eq "$1" ] && return 0
    sleep 0.1
  done
  return 1
}
press_on() {  # window key
  timeout 10 xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1" 2>/dev/null || true
  xdotool key --clearmodifiers "$2"
}
message_box() { windows_titled '^Kestrova$' | grep -vx "$wid" | head -1; }
start_scan() {  # [online]
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  if [ "${1:-}" = online ]; then
    xdotool mousemove $((X + 48 + 20)) $((Y + 144 + 8)) click 1  # optInternet
    sleep 0.3
    grep -qx 'internet=1' <<<"$(state)" || fail "optInternet not selected"
  else
    xdotool mousemove $((X + 48 + 20)) $((Y + 168 + 8)) click 1  # optInternet2
    sleep 0.3
    grep -qx 'internet2=1' <<<"$(state)" || fail "optInternet2 not selected"
  fi
  xdotool mousemove $((X + 208 + 100)) $((Y + 192 + 28)) click 1  # Start
}
await_dialog() {
  local i
  dialog=
  for ((i = 0; i < 2400; i++)); do  # a first scan in a fresh prefix starts WMI: minutes
    dialog=$(windows_titled '^Save File As\.\.\.$' | head -1)
    [ -n "$dialog" ] && break
    sleep 0.1
  done
  [ -n "$dialog" ] || fail "no Save-As dialog after an offline Start"
  sleep 1  # the dialog takes its focus and fills its folder view
  timeout 10 xdotool windowfocus --sync "$dialog" 2>/dev/null || xdotool windowfocus "$dialog"
}
await_dialog_gone() {
  local i
  for ((i = 0; i < 100; i++)); do
    [ -z "$(windows_titled '^Save File As\.\.\.$')" ] && return 0
    sleep 0.1
  done
  fail "the Save-As dialog did not close"
}
await_status() {  # text [seconds]
  local started=$SECONDS s
  while ((SECONDS - started < ${2:-20})); do
    s=$(state)
    grep -qx "status=$1" <<<"$s" && return 0
    sleep 0.2
  done
  fail "status is not '$1': $(tr '\n' ' ' <<<"$s")"
}

before=$(entries)
(cd "$run" && exec wine kestrova.exe) &
app_pid=$!
wid=
for ((i = 0; i < 300; i++)); do
  wid=$(windows_titled '^Kestrova$' | head -1)
  [ -n "$wid" ] && break
  sleep 0.1
done
[ -n "$wid" ] || fail "no Kestrova window"
sleep 1
await_windows 1 10 || fail "more than the main window at start"

# 0. Online: the shell opens the work report; no dialog, no message.
html_association_record kestrova-delivery-opened.txt
start_scan online
await_status 'Sending information' 240  # the first scan starts WMI in a fresh prefix
grep -qx 'iconic=1' <<<"$(state)" || fail "window not minimised after the online scan"
for _ in $(seq 1 40); do [ -s "$opened" ] && break; sleep 0.5; done
expect_file "$opened"
got=$(tr -d '\r"' <"$opened" | tr 'A-Z' 'a-z')
want=$(printf 'c:\\users\\%s\\temp\\pellucor\\driver.html' "$(basename "$user_dir")" | tr 'A-Z' 'a-z')
expect_eq "$got" "$want" "the path the shell opened"
[ -z "$(windows_titled '^Save File As\.\.\.$')" ] || fail "a dialog in online mode"
expect_eq "$(entries)" $((before + 1)) "log entries after the online scan"
timeout 20 wine "$probe" restore
sleep 1
before=$((before + 1))

# 1. A typed name, Return: the copy lands on the desktop, the starting folder.
start_scan
await_dialog
expect_eq "$(entries)" $((before + 1)) "log entries once the scan has started"
xdotool key --clearmodifiers End
for _ in $(seq 1 12); do xdotool key BackSpace; done
xdotool type --delay 30 "$typed"
xdotool key Return
await_dialog_gone
await_windows 2 30 || fail "no message box after saving"
copy=$desktop/$typed.html
expect_file "$copy"
[ -e "$desktop/$typed.doc" ] && fail "Wine used the default extension doc"
cmp -s "$copy" "$work_report" || fail "the saved copy differs from the work-folder report"
grep -qx 'status=Save file to desktop' <<<"$(state)" || fail "status after saving: $(state)"
press_on "$(message_box)" Return
await_windows 1 10 || fail "the message box did not close on Return"
sleep 2
expect_eq "$(kestrova_windows)" 1 "the copy hint shown once"

# 2. Escape: nothing saved, nothing shown.
rm -f "$work_report"
start_scan
await_dialog
xdotool key Escape
await_dialog_gone
await_status 'Save file to desktop'
sleep 2
expect_eq "$(kestrova_windows)" 1 "windows after a cancelled Save-As"
expect_file "$work_report"
for f in "${ours[@]}"; do
  [ "$f" = "$copy" ] && continue
  [ -e "$f" ] && fail "a cancelled Save-As wrote $f"
done
expect_eq "$(entries)" $((before + 2)) "log entries after the cancelled scan"

# 3. Return alone: the suggested name "drivers", completed by the filter.
start_scan
await_dialog
xdotool key Return
await_dialog_gone
await_windows 2 30 || fail "no message box after saving under the suggested name"
[ -s "$desktop/drivers.html" ] || fail "no drivers.html on the desktop: $(ls "$desktop"; find "$user_dir" -newer "$run/kestrova.exe" -name "driver*" 2>/dev/null)"
cmp -s "$desktop/drivers.html" "$work_report" || fail "drivers.html differs from the work report"
press_on "$(message_box)" Return
await_windows 1 10 || fail "the message box did not close"
expect_eq "$(entries)" $((before + 3)) "log entries after three scans"

# 4. A scan that ends early (no template beside the program) still logs.
mv "$run/driver.html" "$run/driver.html.away"
start_scan
await_windows 2 60 || fail "no message about the missing template"
template_message() { state | sed -n 's/^message=//p'; }
msg=$(template_message)
[[ "$msg" == "Unable to file template , please re-install the application"*"driver.html: "* ]] ||
  fail "the template message gives no reason: '$msg'"
press_on "$(message_box)" Return
await_windows 1 10 || fail "the template message did not close"
expect_eq "$(entries)" $((before + 4)) "log entries after a scan that ended early"

# 5. A folder in the template's place is a missing template, and says so.
mkdir "$run/driver.html"
start_scan
await_windows 2 60 || fail "no message about a folder as the template"
msg=$(template_message)
[[ "$msg" == "Unable to file template"*"driver.html: it is a folder, not a file"* ]] ||
  fail "the template message does not name the folder: '$msg'"
press_on "$(message_box)" Return
await_windows 1 10 || fail "the template message did not close"
rmdir "$run/driver.html"
expect_eq "$(entries)" $((before + 5)) "log entries after a scan that ended early"

# Every entry: CR LF, a time stamp, ": ", the text; the log starts with CR LF.
if [ "$before" -eq 0 ]; then
  expect_eq "$(head -c 2 "$log" | od -An -c | tr -d ' ')" '\r\n' "the log's first bytes"
fi
bad=$(tr -d '\n' <"$log" | tr '\r' '\n' | grep -v '^$' |
  grep -cvE '^[0-9][^:]*[0-9]( [0-9]{1,2}:[0-9]{2}:[0-9]{2}( [AP]M)?)?: Start scanning file with mode:(online|offline)$' || true)
expect_eq "$bad" 0 "log entries not of the form '<date> <time>: <text>'"

timeout 20 wine "$probe" close || true
for _ in $(seq 1 40); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.5; done
kill -0 "$app_pid" 2>/dev/null && fail "kestrova.exe still running after close"
app_pid=
pass
