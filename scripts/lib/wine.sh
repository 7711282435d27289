# Sourced by the test scripts: a throw-away Wine prefix under the build
# folder, never the user's own.
#   wine_prefix_start DIR [win32|win64]   creates and boots it, exports WINEPREFIX
#   wine_prefix_stop                      stops its server, removes it and its socket dir

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"

wine_prefix_start() {
  local dir=$1 arch=${2:-win32}
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  export WINEPREFIX=$dir
  export WINEARCH=$arch
  wineboot -i >/dev/null 2>&1
  wineserver -w
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
