#!/usr/bin/env bash
# The shipped Windows programs load on Windows XP SP3 and later by their
# import tables alone: every function they import statically is one XP SP3's
# system DLLs export (tests/data/win/xp_sp3_imports.txt, from ReactOS's export
# specs), and every DLL they import is a KnownDLL or side-by-side comctl32
# (tests/data/win/known_dlls.txt), so no copy planted beside them is loaded.
# Delay-loaded imports count the same. Needs no display and no Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export KESTROVA_SRC=${KESTROVA_SRC:-$(cd "$here/../.." && pwd)}
build=${KESTROVA_BUILD_WIN32:-$KESTROVA_SRC/build/win32}
source "$here/lib/common.sh"
data=$KESTROVA_SRC/tests/data/win
objdump=i686-w64-mingw32-objdump
command -v $objdump >/dev/null || fail "$objdump missing (package binutils-mingw-w64-i686)"

# "DLL Function" for each import of a PE file; "DLL #ordinal" for ordinals.
imports_of() {
  $objdump -p "$1" | awk '
    /^\tDLL Name: / { dll = toupper($3); next }
    /^The Import Tables|^The Delay Import Tables/ { dll = "" }
    dll != "" && /^\t[0-9a-f]+ +[0-9]+ +[^ ]+$/ { print dll, $3; next }
    dll != "" && /^\t[0-9a-f]+ +<none> +[0-9a-f]+$/ { print dll, "#" $3 }'
}

allowed=$(grep -v '^#' "$data/xp_sp3_imports.txt" | sort -u)
known=$(grep -v '^#' "$data/known_dlls.txt" | sort -u)
for exe in kestrova.exe kestrova-scan.exe; do
  [ -s "$build/$exe" ] || fail "$build/$exe not built"
  list=$(imports_of "$build/$exe" | sort -u)
  [ "$(wc -l <<<"$list")" -gt 50 ] || fail "$exe: too few imports read ($(wc -l <<<"$list")); objdump output changed?"
  grep -q '^KERNEL32.DLL CreateFileW$' <<<"$list" || fail "$exe: the import reader missed KERNEL32!CreateFileW"
  missing=$(comm -23 <(echo "$list") <(echo "$allowed"))
  [ -z "$missing" ] || fail "$exe imports what is not checked as present on XP SP3:
$missing"
  unknown=$(comm -23 <(awk '{print $1}' <<<"$list" | sort -u) <(echo "$known"))
  [ -z "$unknown" ] || fail "$exe imports DLLs that are not KnownDLLs (load them by full path at run time): $unknown"
  echo "$exe: $(wc -l <<<"$list") imports from $(awk '{print $1}' <<<"$list" | sort -u | tr '\n' ' ')"
done

# The test's own check: the list must catch the import XP lacks.
if grep -q '^KERNEL32.DLL GetTickCount64$' <<<"$allowed"; then
  fail "the XP list admits GetTickCount64"
fi
pass
