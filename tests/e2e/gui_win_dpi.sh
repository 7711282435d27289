#!/usr/bin/env bash
# kestrova.exe under Wine at the common display scales: 96, 120, 144 and 192
# dots per inch (100 %, 125 %, 150 %, 200 %). At each one:
# - the window tests run at that scale, among them the check that every label
#   and option shows its whole text, measured in the control's own font;
# - the window opens at the scaled size with its artwork drawn, and a
#   screenshot of it goes to the output folder (window-<dpi>dpi.png);
# - a click just inside the Start picture's lower-right corner, where it lies
#   at that scale, runs an online scan to its end.
# The screen must hold the window at 200 %, and the scale is a setting of the
# whole prefix: so this test runs in an Xvfb display and a Wine prefix of its
# own, both thrown away afterwards.
#   KESTROVA_DPI_OUT   output folder (default build/win32/e2e-output/gui_win_dpi)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export KESTROVA_SRC=${KESTROVA_SRC:-$(cd "$here/../.." && pwd)}
export KESTROVA_BUILD_WIN32=${KESTROVA_BUILD_WIN32:-$KESTROVA_SRC/build/win32}

if [ -z "${KESTROVA_DPI_DISPLAY:-}" ]; then
  export KESTROVA_DPI_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$@"
fi

source "$here/lib/common.sh"
source "$KESTROVA_SRC/scripts/lib/wine.sh"
build=$KESTROVA_BUILD_WIN32
probe=$build/window_probe.exe
tests=$build/tests/test_app.exe
for f in "$build/kestrova.exe" "$probe" "$tests"; do [ -x "$f" ] || fail "$f not built"; done
out=${KESTROVA_DPI_OUT:-$build/e2e-output/gui_win_dpi}
rm -rf "$out"
mkdir -p "$out"

run=$(mktemp -d "$build/e2e-dpi.XXXXXX")
cp "$build/kestrova.exe" "$build/driver.html" "$run/"
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  wine_prefix_stop
  rm -rf "$run"
}
trap cleanup EXIT

started=$SECONDS
wine_prefix_start "$run/prefix" win32
source "$here/lib/wine.sh"
html_association_record kestrova-opened.txt
opened=$WINEPREFIX/drive_c/kestrova-opened.txt
echo "prefix ready after $((SECONDS - started)) s"

# Wine reads the scale from HKCU\Control Panel\Desktop, and from the hardware
# profile's font key when the user has none: both say the same here. A
# process reads it once at start, so the server ends before the next one.
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
  wineserver -w
}

state() { timeout 20 wine "$probe" state | tr -d '\r'; }
initial='status=Select your internet access option and click on Start Now to get your driver.'

for dpi in 96 120 144 192; do
  echo "== $dpi DPI"
  px() { echo $(($1 * dpi / 96)); }  # a 96-DPI length at this scale (rounded down)
  set_dpi "$dpi"

  # The window's own tests, with its texts measured, at this scale.
  if ! (cd "$run" && wine "$tests" --gtest_filter='FrmMainTest.*:Picture.*' >"$out/tests-${dpi}dpi.txt" 2>&1); then
    grep -B3 -A8 'Failure\|FAILED' "$out/tests-${dpi}dpi.txt" | head -60 >&2
    fail "window tests at $dpi DPI (all output in $out/tests-${dpi}dpi.txt)"
  fi
  grep -q '^\[  PASSED  \]' "$out/tests-${dpi}dpi.txt" || fail "no window tests ran at $dpi DPI"

  [ -z "$(xdotool search --name '^Kestrova$' 2>/dev/null)" ] || fail "a Kestrova window is already open"
  (cd "$run" && exec wine kestrova.exe) &
  app_pid=$!
  wid=$(timeout 30 xdotool search --sync --name '^Kestrova$' | head -1) || fail "no Kestrova window at $dpi DPI"
  [ -n "$wid" ] || fail "no Kestrova window at $dpi DPI"
  sleep 1  # the first paint
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  expect_eq "${WIDTH}x${HEIGHT}" "$(((568 * dpi + 48) / 96))x$(((304 * dpi + 48) / 96))" "client area at $dpi DPI"
  s=$(state)
  grep -qx "$initial" <<<"$s" || fail "initial status at $dpi DPI: $s"

  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/window-${dpi}dpi.png"
  rgb_at() {  # x y at 96 DPI -> "r g b" of that point of the screenshot
    convert "$out/window-${dpi}dpi.png" -format \
      "%[fx:int(255*p{$(px "$1"),$(px "$2")}.r)] %[fx:int(255*p{$(px "$1"),$(px "$2")}.g)] %[fx:int(255*p{$(px "$1"),$(px "$2")}.b)]" info:
  }
  check_artwork

  # Just inside the Start picture's lower-right corner (it spans 208..408 x
  # 192..248): a point that misses the picture unless it is where the scale
  # puts it.
  xdotool mousemove $((X + $(px 404))) $((Y + $(px 244))) click 1
  t=$SECONDS
  while ((SECONDS - t < 240)); do
    s=$(state)
    grep -qx 'status=Sending information' <<<"$s" && break
    sleep 0.5
  done
  grep -qx 'status=Sending information' <<<"$s" || fail "no scan from the Start picture at $dpi DPI: $(tr '\n' ' ' <<<"$s")"
  echo "scan took $((SECONDS - t)) s"
  for _ in $(seq 1 20); do [ -s "$opened" ] && break; sleep 0.5; done
  grep -qi 'pellucor\\driver.html' "$opened" || fail "the report was not opened at $dpi DPI"
  rm -f "$opened"

  timeout 20 wine "$probe" close >/dev/null
  for _ in $(seq 1 40); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.5; done
  kill -0 "$app_pid" 2>/dev/null && fail "kestrova.exe still running after close at $dpi DPI"
  wait "$app_pid" || fail "kestrova.exe exited with status $? at $dpi DPI"
  app_pid=
done
echo "screenshots in $out (all in $((SECONDS - started)) s)"
pass
