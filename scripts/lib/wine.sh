# Sourced by the test scripts: a throw-away Wine prefix under the build
# folder, never the user's own.
#   wine_prefix_start DIR [win32|win64]   creates and boots it, exports WINEPREFIX
#   wine_prefix_stop                      stops its server, removes it and its socket dir
#   wine_prefix_control_set               (done by start) the class keys under ControlSet001

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"

wine_prefix_start() {
  local dir=$1 arch=${2:-win32}
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  export WINEPREFIX=$dir
  export WINEARCH=$arch
  wineboot -i >/dev/null 2>&1
  wine_prefix_control_set || echo "wine.sh: could not copy the class keys to ControlSet001" >&2
  wineserver -w
}

# Windows always has HKLM\System\ControlSet001, where the driver list reads
# the device class keys; Wine has only CurrentControlSet. Copy the class keys
# across so a scan in the prefix finds its drivers as on Windows.
wine_prefix_control_set() {
  local tmp rc
  tmp=$(mktemp -d)
  if wine reg export 'HKLM\System\CurrentControlSet\Control\Class' "$(winepath -w "$tmp/class.reg")" /y \
    >/dev/null 2>&1; then
    iconv -f UTF-16LE -t UTF-8 "$tmp/class.reg" |
      sed '1s/^\xEF\xBB\xBF//; s/\\CurrentControlSet\\/\\ControlSet001\\/' >"$tmp/cs1.reg"
    wine reg import "$(winepath -w "$tmp/cs1.reg")" >/dev/null 2>&1
    rc=$?
  else
    rc=1
  fi
  rm -rf "$tmp"
  return $rc
}

wine_prefix_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  # The prefix names its server's socket folder, relative to /tmp.
  local sock
  sock=$(cat "$WINEPREFIX/wineserver" 2>/dev/null || true)
  case "$sock" in
    "") ;;
    /*) rm -rf "$sock" ;;
    *) rm -rf "${TMPDIR:-/tmp}/$sock" ;;
  esac
  rm -rf "$WINEPREFIX"
  unset WINEPREFIX
}
