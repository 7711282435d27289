# Helpers for the end-to-end scripts.
fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok: $(basename "$0")"; }
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"; }
expect_file() { [ -s "$1" ] || fail "missing or empty file $1"; }
make_temp_home() {
  local d
  d=$(mktemp -d "${KESTROVA_BUILD_LINUX:-/tmp}/e2e-home.XXXXXX")
  echo "$d"
}
# The hand over both picture buttons (Start, Exit), the arrow over a label
# and an option. move_pointer x y, given by the script, moves the pointer to
# a point of the window's client area.
check_pointer_shapes() {
  local label start exit_ option
  pointer_at() {
    move_pointer "$1" "$2"
    sleep 0.5
    python3 "$KESTROVA_SRC/tests/e2e/lib/pointer_shape.py"
  }
  label=$(pointer_at 100 80)
  start=$(pointer_at 308 220)
  exit_=$(pointer_at 544 19)
  option=$(pointer_at 100 150)
  expect_eq "$exit_" "$start" "pointer over Exit and over Start"
  [ "$start" != "$label" ] || fail "no hand pointer over Start"
  expect_eq "$option" "$label" "pointer over an option and over a label"
}
# The artwork is drawn: the dark header of the background, the orange Start
# button. rgb_at x y, given by the script, prints "r g b" of a client point.
check_artwork() {
  local r g b
  read -r r g b <<<"$(rgb_at 300 10)"
  ((r < 90 && b > 70 && b > r)) || fail "no background picture (header pixel $r $g $b)"
  read -r r g b <<<"$(rgb_at 380 204)"
  ((r > 200 && b < 150 && r > g)) || fail "no Start picture (pixel $r $g $b)"
}
