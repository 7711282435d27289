#!/usr/bin/env bash
# The Linux window, report delivery and the activity log:
# - online: the desktop opener receives the work report's path at once and
#   the scan does not wait for it to finish;
# - offline: Save-As opens in the desktop folder; Return keeps the suggested
#   name; the copy equals the work report and the hint is shown once;
# - cancelling saves nothing and shows nothing;
# - every scan adds exactly one log entry, also one that ends early.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"

home=$(make_temp_home)
export HOME=$home XDG_RUNTIME_DIR= XDG_CACHE_HOME=$home/cache XDG_DATA_HOME=$home/data
export XDG_CONFIG_HOME=$home/config XDG_DESKTOP_DIR=
mkdir -p "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$home/app" "$home/bin" \
  "$home/Desktop"
cp "$KESTROVA_BUILD_LINUX/kestrova" "$KESTROVA_BUILD_LINUX/driver.html" "$home/app/"
report=$XDG_CACHE_HOME/pellucor/driver.html
log=$XDG_DATA_HOME/pellucor/log.txt

# The opener records its argument and then stays until the test ends: a scan
# that waited for it would never finish.
opened=$home/opened
cat >"$home/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$\$" >>"$home/opener-pids"
printf '%s\n' "\$1" >>"$opened"
exec sleep 600
EOF
chmod +x "$home/bin/xdg-open"
export PATH=$home/bin:$PATH

"$home/app/kestrova" 2>"$home/stderr" &
pid=$!
cleanup() {
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true  # its window is gone before the next test looks
  local p
  for p in $(cat "$home/opener-pids" 2>/dev/null); do kill "$p" 2>/dev/null || true; done
  rm -rf "$home"
}
trap cleanup EXIT

wid=$(timeout 20 xdotool search --sync --onlyvisible --class '^kestrova$' | head -n1) ||
  fail "the window did not appear"
[ -n "$wid" ] || fail "the window did not appear"

entries() {
  [ -e "$log" ] || { echo 0; return; }
  grep -ac 'Start scanning file with mode:' "$log" || true
}
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; }
# Visible windows of the program other than the main one: message boxes.
messages() {
  { xdotool search --onlyvisible --name '^Kestrova$' 2>/dev/null || true; } | grep -vx "$wid" |
    head -n1
}
await_message() {  # seconds
  local i m
  for ((i = 0; i < $1 * 10; i++)); do
    m=$(messages)
    [ -n "$m" ] && { echo "$m"; return 0; }
    kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$home/stderr")"
    sleep 0.1
  done
  return 1
}
close_message() {  # window
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $((WIDTH / 2)) $((HEIGHT - 24)) click 1
  local i
  for ((i = 0; i < 50; i++)); do
    [ -z "$(messages)" ] && return 0
    sleep 0.1
  done
  fail "the message did not close"
}
await_dialog() {
  dialog=$(timeout 60 xdotool search --sync --onlyvisible --name '^Save File As\.\.\.$' |
    head -n1) || fail "no Save-As dialog in offline mode"
  [ -n "$dialog" ] || fail "no Save-As dialog in offline mode"
  sleep 1
  timeout 10 xdotool windowfocus --sync "$dialog" || fail "the Save-As dialog took no focus"
}
await_dialog_gone() {
  local i
  for ((i = 0; i < 100; i++)); do
    xdotool search --onlyvisible --name '^Save File As\.\.\.$' >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "the Save-As dialog did not close"
}
await_file() {  # path seconds
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# Online (selected at start): opened at once, without waiting for the opener.
click 308 220
await_file "$opened" 60 || fail "the online scan did not hand the report to xdg-open"
expect_eq "$(cat "$opened")" "$report" "document handed to xdg-open"
expect_eq "$(entries)" 1 "log entries after the online scan"
timeout 10 xdotool windowmap --sync "$wid" 2>/dev/null || true

# Offline, cancelled: no file, no message, one more entry.
click 56 176
click 308 220
await_dialog
xdotool key Escape
await_dialog_gone
sleep 2
[ -z "$(messages)" ] || fail "a message after a cancelled Save-As"
[ -z "$(ls -A "$home/Desktop")" ] || fail "a cancelled Save-As wrote $(ls "$home/Desktop")"
expect_eq "$(entries)" 2 "log entries after the cancelled scan"

# Offline, Return: the suggested name in the desktop folder.
click 308 220
await_dialog
xdotool key Return
await_dialog_gone
msg=$(await_message 30) || fail "no message after saving"
saved=$(ls "$home/Desktop")
case "$saved" in drivers | drivers.html) ;; *) fail "saved as '$saved', not the suggested name" ;; esac
cmp -s "$home/Desktop/$saved" "$report" || fail "the saved copy differs from the work report"
close_message "$msg"
sleep 1
[ -z "$(messages)" ] || fail "the hint was shown more than once"
expect_eq "$(entries)" 3 "log entries after the saved scan"

# A scan that ends early (no template) still logs once.
mv "$home/app/driver.html" "$home/app/driver.html.away"
click 308 220
msg=$(await_message 60) || fail "no message about the missing template"
close_message "$msg"
expect_eq "$(entries)" 4 "log entries after a scan that ended early"
# Each entry: CR LF, date and time, ": ", the text.
expect_eq "$(head -c 2 "$log" | od -An -c | tr -d ' ')" '\r\n' "the log's first bytes"
bad=$(tr -d '\n' <"$log" | tr '\r' '\n' | grep -v '^$' |
  grep -cvE '^[0-9].*[0-9]: Start scanning file with mode:(online|offline)$' || true)
expect_eq "$bad" 0 "log entries not of the form '<date> <time>: <text>'"

click 544 19  # Exit
for ((i = 0; i < 100; i++)); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the program still runs after Exit"
pass
