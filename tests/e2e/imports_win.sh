#!/usr/bin/env bash
# The shipped Windows programs load on Windows XP SP3 and later by their
# import tables alone: every function they import statically is one XP SP3's
# system DLLs export (tests/data/win/xp_sp3_imports.txt, from ReactOS's export
# lists), and every DLL they import is a KnownDLL or side-by-side comctl32
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
    dll != "" && /^\t[0-9a-f]+\t *[0-9]+ +[^ ]+$/ { print dll, $NF; next }
    dll != "" && /^\t[0-9a-f]+\t *<none> +[0-9a-f]+$/ { print dll, "#" $NF }'
}

allowed=$(grep -v '^#' "$data/xp_sp3_imports.txt" | sort -u)
known=$(grep -v '^#' "$data/known_dlls.txt" | sort -u)
for exe in kestrova.exe kestrova-scan.exe kestrova-match.exe; do
  [ -s "$build/$exe" ] || fail "$build/$exe not built"
  list=$(imports_of "$build/$exe" | sort -u)
  [ "$(wc -l <<<"$list")" -gt 50 ] || fail "$exe: too few imports read ($(wc -l <<<"$list")); objdump output changed?"
  grep -q '^KERNEL32.DLL CreateFileW$' <<<"$list" || fail "$exe: the import reader missed KERNEL32!CreateFileW"
  missing=$(comm -23 <(echo "$list") <(echo "$allowed"))
  [ -z "$missing" ] || fail "$exe imports what is not checked as present on XP SP3:
$missing"
  unknown=$(comm -23 <(awk '{print $1}' <<<"$list" | sort -u) <(echo "$known"))
  [ -z "$unknown" ] || fail "$exe imports DLLs that are not KnownDLLs (load them by full path at run time): $unknown"
  # XP (5.1) refuses a program whose header asks for a later subsystem.
  read -r major minor <<<"$($objdump -p "$build/$exe" |
    awk '/^MajorSubsystemVersion/ {a = $2} /^MinorSubsystemVersion/ {b = $2} END {print a, b}')"
  ((major < 5 || (major == 5 && minor <= 1))) || fail "$exe asks for subsystem $major.$minor, above XP's 5.1"
  echo "$exe: $(wc -l <<<"$list") imports from $(awk '{print $1}' <<<"$list" | sort -u | tr '\n' ' ')"
done

# Each carries a manifest that asks for no elevation (requestedExecutionLevel
# asInvoker), which also turns UAC file virtualisation off, and names the
# Windows versions they were tested on (learn.microsoft.com, "Application
# manifests"): the resource holds the manifest's text as it is.
for exe in kestrova.exe kestrova-scan.exe kestrova-match.exe; do
  grep -aq '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' "$build/$exe" ||
    fail "$exe has no asInvoker manifest"
  grep -aq 'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' "$build/$exe" ||
    fail "$exe's manifest does not name Windows 10 and 11"
done

# The test's own check: the list must catch the import XP lacks.
if grep -q '^KERNEL32.DLL GetTickCount64$' <<<"$allowed"; then
  fail "the XP list admits GetTickCount64"
fi
pass
