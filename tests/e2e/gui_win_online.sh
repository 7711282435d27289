#!/usr/bin/env bash
# kestrova.exe end to end under Wine, online mode: the window comes up with
# its layout, Start writes the report into the work folder and hands it to
# the shell, the window minimises, Exit ends the program.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/wine.sh"
wine_app_folder gui-online

# Work folder and the shell's document association live in the shared
# prefix: keep what was there and put it back afterwards.
opened=$WINEPREFIX/drive_c/kestrova-opened.txt
[ -e "$work_report" ] && mv "$work_report" "$run/previous-report.html"
rm -f "$opened"
html_association_keep

app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  html_association_restore
  rm -f "$opened" "$work_report"
  [ -e "$run/previous-report.html" ] && mv "$run/previous-report.html" "$work_report"
  rm -rf "$run"
}
trap cleanup EXIT

html_association_record kestrova-opened.txt

# The probe reads the one window of that name: another program's would confuse it.
[ -z "$(xdotool search --name '^Kestrova$' 2>/dev/null)" ] || fail "a Kestrova window is already open"

(cd "$run" && exec wine kestrova.exe) &
app_pid=$!
wid=$(timeout 20 xdotool search --sync --name '^Kestrova$' | head -1) || fail "no Kestrova window"
[ -n "$wid" ] || fail "no Kestrova window"

eval "$(xdotool getwindowgeometry --shell "$wid")"
expect_eq "${WIDTH}x${HEIGHT}" 568x304 "client area"
state=$(timeout 20 wine "$probe" state | tr -d '\r')
grep -qx 'iconic=0' <<<"$state" || fail "window starts minimised: $state"
grep -qx 'internet=1' <<<"$state" || fail "optInternet is not selected at start: $state"
grep -qx 'internet2=0' <<<"$state" || fail "optInternet2 is selected at start: $state"
grep -qx 'status=Select your internet access option and click on Start Now to get your driver.' \
  <<<"$state" || fail "initial status line: $state"

# The artwork is drawn: the dark banner of the background, the orange Start.
import -window root "$run/screen.png"
rgb_at() {  # x y in the client area -> "r g b"
  convert "$run/screen.png" -format \
    "%[fx:int(255*p{$((X + $1)),$((Y + $2))}.r)] %[fx:int(255*p{$((X + $1)),$((Y + $2))}.g)] %[fx:int(255*p{$((X + $1)),$((Y + $2))}.b)]" info:
}
check_artwork

move_pointer() {  # x y: a step from the pixel before, then onto it
  xdotool mousemove $((X + $1 - 1)) $((Y + $2 - 1))
  sleep 0.3
  xdotool mousemove $((X + $1)) $((Y + $2))
}
check_pointer_shapes

# Start: the picture at (208,192), 201 x 57.
xdotool mousemove $((X + 208 + 100)) $((Y + 192 + 28)) click 1
# A first scan in a fresh prefix starts the WMI service: allow it minutes.
started=$SECONDS
while ((SECONDS - started < 240)); do
  state=$(timeout 20 wine "$probe" state | tr -d '\r')
  grep -qx 'status=Sending information' <<<"$state" && break
  sleep 0.5
done
echo "online scan took $((SECONDS - started)) s"
grep -qx 'status=Sending information' <<<"$state" || fail "online scan did not finish: $(tr "\n" " " <<<"$state")"
grep -qx 'iconic=1' <<<"$state" || fail "window not minimised after the online scan: $state"

expect_file "$work_report"
if grep -q '\[drivers\]\|\[hwid\]\|\[scanid\]\|\[setup_api_log\]\|\[proc\]' "$work_report"; then
  fail "placeholders left in the work-folder report"
fi
# Once documents really open, the association must have seen the report.
if grep -q "s.OpenDocument" "$KESTROVA_SRC/src/app/win/platform_services.cpp"; then
  for _ in $(seq 1 20); do [ -s "$opened" ] && break; sleep 0.5; done
  expect_file "$opened"
  grep -qi 'pellucor\\driver.html' "$opened" || fail "the shell opened something else: $(cat "$opened")"
fi

# Exit: restore, then click the Exit picture at (528,8), 33 x 25.
timeout 20 wine "$probe" restore
sleep 1
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool mousemove $((X + 528 + 16)) $((Y + 8 + 12)) click 1
for _ in $(seq 1 40); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.5; done
kill -0 "$app_pid" 2>/dev/null && fail "kestrova.exe still running after Exit"
wait "$app_pid" || fail "kestrova.exe exited with status $?"
app_pid=
pass
