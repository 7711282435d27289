#!/usr/bin/env bash
# kestrova-scan on a fixture system (KESTROVA_SYSROOT): the report carries,
# Base64-encoded in the code page, exactly the expected driver list.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
scan=$KESTROVA_BUILD_LINUX/kestrova-scan
home=$(make_temp_home)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_RUNTIME_DIR= XDG_CACHE_HOME=$home/cache XDG_DATA_HOME=$home/data
mkdir -p "$XDG_CACHE_HOME"

# A copy: git keeps no file times, and the out-of-tree module's date is its file's.
cp -a "$KESTROVA_SRC/tests/data/devices/sysroot" "$home/root"
touch -d 2024-02-03T12:00:00Z "$home/root/lib/modules/6.1.0-kestrova/updates/dkms/e1000e.ko"
printf '[drivers]' >"$home/template.html"

report=$(KESTROVA_SYSROOT=$home/root "$scan" --template "$home/template.html" 2>"$home/err")
expect_file "$report"
base64 -d "$report" >"$home/data.bin" || fail "report is not Base64"
head -c 2 "$home/data.bin" | od -An -c | grep -q '\\r  *\\n' || fail "scan data does not start with CR LF"
iconv -f WINDOWS-1252 -t UTF-8 "$home/data.bin" | tr -d '\r' | sed -n '/^driver_/p' >"$home/list.txt"
diff -u "$KESTROVA_SRC/tests/data/devices/sysroot-driver-list.txt" "$home/list.txt" ||
  fail "driver list differs from the expected one"

# The older laptop: only the four devices without a driver need attention;
# the chipset bridges and ACPI system devices the kernel serves do not.
report=$(KESTROVA_SYSROOT=$KESTROVA_SRC/tests/data/devices/machines/laptop "$scan" \
  --template "$home/template.html" 2>"$home/err")
base64 -d "$report" | iconv -f WINDOWS-1252 -t UTF-8 | tr -d '\r' | grep '^driver_' >"$home/laptop.txt"
expect_eq "$(wc -l <"$home/laptop.txt")" 33 "devices listed on the laptop"
flagged=$(grep '\[;\]28$' "$home/laptop.txt" | awk -F '[[];[]]' '{ sub(/,.*/, "", $5); print $5 }' |
  sort | tr '\n' ' ')
expect_eq "$flagged" "PCI\VEN_8086&DEV_2930&SUBSYS_360B103C&REV_03 PCI\VEN_8086&DEV_2932&SUBSYS_360B103C&REV_03 \
PCI\VEN_8086&DEV_2A42&SUBSYS_360B103C&REV_07 PCI\VEN_8086&DEV_2A43&SUBSYS_360B103C&REV_07 " \
  "devices needing attention on the laptop"

# A system with no devices: no report.
mkdir -p "$home/empty"
set +e
KESTROVA_SYSROOT=$home/empty "$scan" --template "$home/template.html" >/dev/null 2>&1
rc=$?
set -e
expect_eq "$rc" 4 "exit code with no driver data"
pass
