# Helpers for the scripts that drive kestrova.exe in the shared Wine prefix.
# Source after common.sh.

# Checks the build and the prefix, then copies the program and its template
# into a fresh folder. Sets build, probe, run, user_dir and work_report.
wine_app_folder() {  # name
  build=$KESTROVA_BUILD_WIN32
  probe=$build/window_probe.exe
  [ -x "$build/kestrova.exe" ] || fail "kestrova.exe not built in $build"
  [ -x "$probe" ] || fail "window_probe.exe not built in $build"
  : "${WINEPREFIX:?needs the shared Wine prefix}"

  run=$(mktemp -d "$build/e2e-$1.XXXXXX")
  cp "$build/kestrova.exe" "$build/driver.html" "$run/"

  user_dir=$WINEPREFIX/drive_c/users/$(id -un)
  [ -d "$user_dir" ] || user_dir=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -1)
  work_report=$user_dir/Temp/pellucor/driver.html
}

# The shell's .html association lives in the shared prefix: keep it in $run
# before changing it, put it back with html_association_restore.
html_association_keep() {
  wine reg export 'HKLM\Software\Classes\htmlfile' "$run/htmlfile.reg" /y >/dev/null 2>&1 || true
  wine reg export 'HKLM\Software\Classes\.html' "$run/dothtml.reg" /y >/dev/null 2>&1 || true
}

html_association_restore() {
  wine reg delete 'HKLM\Software\Classes\htmlfile\shell\open\command' /f >/dev/null 2>&1 || true
  [ -s "$run/htmlfile.reg" ] && wine reg import "$run/htmlfile.reg" >/dev/null 2>&1 || true
  if [ -s "$run/dothtml.reg" ]; then
    wine reg import "$run/dothtml.reg" >/dev/null 2>&1 || true
  else
    wine reg delete 'HKLM\Software\Classes\.html' /f >/dev/null 2>&1 || true
  fi
}

# Opening a document appends its path to a file instead of starting a browser.
html_association_record() {  # file name under C:\ that receives the paths
  cat >"$run/assoc.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Classes\\.html]
@="htmlfile"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\htmlfile\\shell\\open\\command]
@="C:\\\\windows\\\\system32\\\\cmd.exe /c echo %1>>C:\\\\$1"
REG
  wine reg import "$run/assoc.reg" >/dev/null 2>&1 || fail "could not import the .html association"
}
