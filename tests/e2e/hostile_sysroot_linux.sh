#!/usr/bin/env bash
# kestrova-scan on a damaged system tree (KESTROVA_SYSROOT), built here: symbolic
# link loops, a 64 MiB attribute, FIFOs where attributes, logs and devices
# should be, names that are not UTF-8, unreadable folders and garbage ids.
# The scan finishes quickly with a report or exit 4, never hangs or crashes,
# and no garbage value adds a line to the driver list.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
scan=$KESTROVA_BUILD_LINUX/kestrova-scan
home=$(make_temp_home)
cleanup() {
  chmod -R u+rwX "$home" 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT
export HOME=$home XDG_RUNTIME_DIR= XDG_CACHE_HOME=$home/cache XDG_DATA_HOME=$home/data
mkdir -p "$XDG_CACHE_HOME"

root=$home/root
cp -a "$KESTROVA_SRC/tests/data/devices/sysroot" "$root"
pci=$root/sys/devices/pci0000:00
usb=$pci/0000:00:14.0/usb1

# Loops: a bus entry pointing at itself, two pointing at each other, a driver
# link into its own device.
ln -s loop "$root/sys/bus/pci/devices/loop"
ln -s loop-b "$root/sys/bus/usb/devices/loop-a"
ln -s loop-a "$root/sys/bus/usb/devices/loop-b"
rm -f "$pci/0000:00:1f.3/driver"
ln -s ../0000:00:1f.3/driver "$pci/0000:00:1f.3/driver"

# A 64 MiB attribute, and FIFOs where attributes should be.
head -c 64M < <(yes 'pci:v00008086d000010D3sv') >"$pci/0000:03:00.0/modalias"
rm -f "$pci/0000:00:02.0/vendor" "$usb/1-1/product" "$root/sys/module/xhci_pci/version"
mkfifo "$pci/0000:00:02.0/vendor" "$usb/1-1/product" "$root/sys/module/xhci_pci/version"

# Garbage ids: not hex, not text, line breaks that would start a driver entry.
printf '0xZZZZ' >"$pci/0000:00:1f.3/device"
printf '\xff\xfe\r\ndriver_9=evil[;]' >"$usb/1-1/idProduct"
acpi=$(ls -d "$root"/sys/devices/LNXSYSTM:00/PNP0303:00)
printf 'PNP0303\r\ndriver_9=evil[;]\n' >"$acpi/hid"
printf 'acpi:\x01\x02\xff:\n' >"$acpi/modalias"

# Names that are not UTF-8, one of them a device with garbage in it, and an
# unreadable device folder (root reads it anyway).
bad=$'\xff\xfe-bad'
mkdir -p "$pci/$bad"
printf '0x8086\n' >"$pci/$bad/vendor"
printf '0x%s\n' $'\xc3\x28' >"$pci/$bad/device"
ln -s "../../../devices/pci0000:00/$bad" "$root/sys/bus/pci/devices/$bad"
mkdir -p "$root/sys/devices/pci0000:00/locked"
printf '0x8086\n' >"$root/sys/devices/pci0000:00/locked/vendor"
ln -s ../../../devices/pci0000:00/locked "$root/sys/bus/pci/devices/locked"
chmod 000 "$root/sys/devices/pci0000:00/locked"

# Computer information: DMI values as a FIFO, a loop, 64 MiB, line breaks.
dmi=$root/sys/class/dmi/id
mkdir -p "$dmi" "$root/etc" "$root/var/log" "$root/dev"
mkfifo "$dmi/product_name"
ln -s bios_version "$dmi/bios_version"
head -c 64M /dev/zero >"$dmi/sys_vendor"
printf 'Vendor\r\ndriver_9=evil\n' >"$dmi/bios_vendor"
ln -s os-release "$root/etc/os-release"
mkfifo "$root/var/log/kern.log"

# Disks: the device node and the identity page as FIFOs, a looping block entry.
mkdir -p "$root/sys/block/sda/device" "$root/sys/block"
printf '0\n' >"$root/sys/block/sda/removable"
mkfifo "$root/dev/sda" "$root/sys/block/sda/device/vpd_pg89"
ln -s sdb "$root/sys/block/sdb"

printf '[drivers]' >"$home/template.html"
start=$(date +%s)
set +e
report=$(KESTROVA_SYSROOT=$root timeout 60 "$scan" --template "$home/template.html" 2>"$home/err")
rc=$?
set -e
elapsed=$(($(date +%s) - start))
[ "$rc" -ne 124 ] || fail "the scan hung on the damaged tree"
((elapsed < 30)) || fail "the scan took ${elapsed}s"
case "$rc" in
  0)
    expect_file "$report"
    base64 -d "$report" >"$home/data.bin" || fail "report is not Base64"
    iconv -f WINDOWS-1252 -t UTF-8 "$home/data.bin" | tr -d '\r' >"$home/data.txt"
    grep -q '^driver_1=' "$home/data.txt" || fail "no driver list in the report"
    # Every entry has its own eleven separators: no value broke a line.
    while IFS= read -r line; do
      n=$(awk -F'\\[;\\]' '{ print NF - 1 }' <<<"$line")
      expect_eq "$n" 11 "separators in: $line"
    done < <(grep '^driver_' "$home/data.txt")
    if grep -q '^driver_9=' "$home/data.txt"; then
      grep -n 'driver_9=' "$home/data.txt" >&2
      fail "a garbage value started a line of its own"
    fi
    ;;
  4) ;;
  *)
    cat "$home/err" >&2
    fail "exit status $rc on a damaged tree"
    ;;
esac
pass
