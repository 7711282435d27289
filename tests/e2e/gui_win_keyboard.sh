#!/usr/bin/env bash
# kestrova.exe under Wine by keyboard alone (xdotool sends keys, the mouse is
# never used): the focus starts on the selected option; the arrows move the
# choice; Tab reaches Start and then Exit, each showing a focus rectangle;
# Enter on an option presses Start (the default button) and the report is
# opened; Space presses the focused Exit; Escape closes the window.
#   KESTROVA_KEYBOARD_OUT  screenshots (default build/win32/e2e-output/gui_win_keyboard)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/wine.sh"
wine_app_folder gui-keyboard
out=${KESTROVA_KEYBOARD_OUT:-$build/e2e-output/gui_win_keyboard}
rm -rf "$out"
mkdir -p "$out"

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

state() { timeout 20 wine "$probe" state | tr -d '\r'; }
start_app() {
  [ -z "$(xdotool search --name '^Kestrova$' 2>/dev/null)" ] || fail "a Kestrova window is already open"
  (cd "$run" && exec wine kestrova.exe) &
  app_pid=$!
  wid=$(timeout 20 xdotool search --sync --name '^Kestrova$' | head -1) || fail "no Kestrova window"
  [ -n "$wid" ] || fail "no Kestrova window"
  sleep 1
  xdotool windowfocus --sync "$wid"
  eval "$(xdotool getwindowgeometry --shell "$wid")"
}
key() { xdotool key --window "$wid" "$@"; sleep 0.4; }
wait_closed() {
  for _ in $(seq 1 40); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.5; done
  kill -0 "$app_pid" 2>/dev/null && fail "kestrova.exe still running after $1"
  wait "$app_pid" || fail "kestrova.exe exited with status $? after $1"
  app_pid=
}
# How many pixels of the client rectangle x0 y0 x1 y1 differ between two shots.
changed_in() {  # before after x0 y0 x1 y1
  compare -metric AE -crop "$(($5 - $3))x$(($6 - $4))+$((X + $3))+$((Y + $4))" "$1" "$2" null: 2>&1 |
    cut -d' ' -f1 || true
}

start_app
key Down
grep -qx 'internet2=1' <<<"$(state)" || fail "Down did not select the second option"
key Up
grep -qx 'internet=1' <<<"$(state)" || fail "Up did not select the first option back"

# Tab to Start: its picture gains a focus rectangle; Tab on to Exit.
import -window root "$out/options.png"
key Tab
import -window root "$out/start-focused.png"
n=$(changed_in "$out/options.png" "$out/start-focused.png" 208 192 409 249)
((n > 50)) || fail "no focus cue on Start after Tab ($n pixels changed)"
key Tab
import -window root "$out/exit-focused.png"
n=$(changed_in "$out/start-focused.png" "$out/exit-focused.png" 528 8 561 33)
((n > 10)) || fail "no focus cue on Exit after a second Tab ($n pixels changed)"
# Back to the options (Tab wraps to the selected one), where Enter means Start.
key Tab
key Return
started=$SECONDS
while ((SECONDS - started < 240)); do
  s=$(state)
  grep -qx 'status=Sending information' <<<"$s" && break
  sleep 0.5
done
grep -qx 'status=Sending information' <<<"$s" || fail "Enter on an option started no scan: $(tr '\n' ' ' <<<"$s")"
for _ in $(seq 1 20); do [ -s "$opened" ] && break; sleep 0.5; done
grep -qi 'pellucor\\driver.html' "$opened" || fail "the report was not opened"

# Space on the focused Exit closes the program.
timeout 20 wine "$probe" restore >/dev/null
sleep 1
xdotool windowfocus --sync "$wid"
key shift+Tab  # from the options back to Exit
key space
wait_closed "Space on Exit"

start_app
key Escape
wait_closed "Escape"
echo "screenshots in $out"
pass
