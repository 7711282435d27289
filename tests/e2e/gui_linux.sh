#!/usr/bin/env bash
# The Linux window end to end, from a folder holding only the program and driver.html: the
# window opens with the hand pointer over its picture buttons, Start (online) writes the report
# and hands it to the desktop's opener, an offline Start saves a copy where Save-As points, and
# Exit ends the program.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"

home=$(make_temp_home)
export HOME=$home XDG_RUNTIME_DIR= XDG_CACHE_HOME=$home/cache XDG_DATA_HOME=$home/data
export XDG_CONFIG_HOME=$home/config
mkdir -p "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$home/app" "$home/bin" "$home/Desktop"
cp "$KESTROVA_BUILD_LINUX/kestrova" "$KESTROVA_BUILD_LINUX/driver.html" "$home/app/"
report=$XDG_CACHE_HOME/pellucor/driver.html

# The desktop opener only records what it was asked to open.
opened=$home/opened
cat >"$home/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >>"$opened"
EOF
chmod +x "$home/bin/xdg-open"
export PATH=$home/bin:$PATH

"$home/app/kestrova" 2>"$home/stderr" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

# Found by its class: a Wine window of the same title may share the display.
wid=$(timeout 20 xdotool search --sync --onlyvisible --class '^kestrova$' | head -n1) ||
  fail "the window did not appear"
[ -n "$wid" ] || fail "the window did not appear"
expect_eq "$(xdotool getwindowname "$wid")" "Kestrova" "window title"
eval "$(xdotool getwindowgeometry --shell "$wid")"
expect_eq "${WIDTH}x${HEIGHT}" "568x304" "client area"

wait_for_file() {  # path seconds
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    [ -s "$1" ] && return 0
    kill -0 "$pid" 2>/dev/null || fail "the program ended during the scan: $(cat "$home/stderr")"
    sleep 0.1
  done
  return 1
}

click() {  # x y, in the window
  xdotool mousemove --window "$wid" "$1" "$2" click 1
}

check_report() {
  wait_for_file "$report" 60 || fail "no report after clicking Start"
  if grep -q '\[drivers\]\|\[hwid\]\|\[scanid\]\|\[setup_api_log\]\|\[proc\]' "$report"; then
    fail "placeholders left in the report"
  fi
}

# The pictures are drawn: the dark header of the background, the orange Start button.
sleep 0.5
import -window "$wid" "$home/window.png"
rgb_at() {  # x y -> "r g b"
  convert "$home/window.png" -format "%[fx:int(255*p{$1,$2}.r)] %[fx:int(255*p{$1,$2}.g)] %[fx:int(255*p{$1,$2}.b)]" info:
}
check_artwork

move_pointer() { xdotool mousemove --window "$wid" "$1" "$2"; }
check_pointer_shapes

# Start, with "I can access internet." selected as it is at start: an online scan.
click 308 220
check_report
# Once the shell operation is real, the online scan must hand the report to the opener.
if wait_for_file "$opened" 10; then
  expect_eq "$(head -n1 "$opened")" "$report" "document handed to xdg-open"
elif ! grep -q 'PLACEHOLDER: shell open' "$KESTROVA_SRC/src/app/placeholder_services.cpp"; then
  fail "the online scan did not open the report"
fi

# The window stays, and scans again offline: Save-As, the copy, the hint.
rm -f "$report"
xdotool windowmap --sync "$wid" 2>/dev/null || true
click 56 176
click 308 220
dialog=$(timeout 30 xdotool search --sync --onlyvisible --name '^Save File As\.\.\.$' | head -n1) ||
  fail "no Save-As dialog in offline mode"
# It opens on the desktop suggesting drivers.html; Enter takes that.
saved="$home/Desktop/drivers.html"
xdotool windowfocus --sync "$dialog"
sleep 0.5
xdotool key --clearmodifiers Return
check_report
wait_for_file "$saved" 20 || fail "the chosen file was not written"
cmp -s "$report" "$saved" || fail "the saved copy differs from the work-folder report"
hint=
for ((i = 0; i < 200; i++)); do
  hint=$(xdotool search --onlyvisible --name '^Kestrova$' | grep -vx "$wid" | head -n1) || true
  [ -n "$hint" ] && break
  sleep 0.1
done
[ -n "$hint" ] || fail "no message after saving"
eval "$(xdotool getwindowgeometry --shell "$hint")"
xdotool mousemove --window "$hint" $((WIDTH / 2)) $((HEIGHT - 24)) click 1
for ((i = 0; i < 50; i++)); do
  xdotool search --onlyvisible --name '^Kestrova$' | grep -qx "$hint" || break
  sleep 0.1
done
[ "$i" -lt 50 ] || fail "the message did not close on OK"

# Exit ends the program.
click 544 19
for ((i = 0; i < 100; i++)); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the program still runs after Exit"
set +e
wait "$pid"
rc=$?
set -e
trap - EXIT
expect_eq "$rc" 0 "exit status after Exit"
rm -rf "$home"
pass
