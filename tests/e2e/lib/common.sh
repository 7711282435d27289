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
