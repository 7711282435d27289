#!/usr/bin/env bash
# Rebuilds sysroot/: a small Linux system image (sysfs, proc, modules, id
# database) for the Linux device adapter tests. The output is committed;
# run this only to change it (needs gcc and depmod from kmod).
#
# Devices:
#   PCI 0000:00:02.0  8086:3e92 display, in-tree module i915
#   PCI 0000:00:14.0  8086:a36d USB controller, driver xhci_hcd of module xhci_pci
#   PCI 0000:00:1f.3  8086:a348 audio, no driver (problem 28), not in the id database
#   PCI 0000:03:00.0  8086:15b8 Ethernet, out-of-tree module e1000e (updates/)
#   PCI 0000:05:00.0  1180:0476 CardBus bridge, no socket driver (problem 28)
#   USB usb1          root hub (USB 2.0) of 0000:00:14.0, hub driver
#   USB 1-1           046d:c52b composite: 1-1:1.0 HID (usbhid), 1-1:1.1 HID, no driver
#   USB 1-2           0781:5567 one mass-storage interface (usb-storage)
#   ACPI PNP0C0C:00   power button, built-in acpi driver "button"
#   ACPI PNP0303:00   keyboard, driven through its pnp device 00:01 (i8042 kbd)
#   ACPI PNP0A08:00   PCI root, no driver (28); LNXSYSTM:00 and a not-present
#                     ACPI0003:00 are left out
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/sysroot
rel=6.1.0-kestrova
rm -rf "$out"
mkdir -p "$out"
cd "$out"

put() { mkdir -p "$(dirname "$1")"; printf '%s\n' "$2" >"$1"; }
link() { mkdir -p "$(dirname "$2")"; ln -s "$1" "$2"; }

put proc/sys/kernel/osrelease "$rel"
put proc/sys/kernel/version "#1 SMP PREEMPT_DYNAMIC Debian 6.1.55-1 (2023-09-29)"

pci() { # bdf vendor device subvendor subdevice class revision driver [module]
  local d=sys/devices/pci0000:00/$1 c=${6^^}
  put $d/vendor "0x$2"; put $d/device "0x$3"
  put $d/subsystem_vendor "0x$4"; put $d/subsystem_device "0x$5"
  put $d/class "0x$6"; put $d/revision "0x$7"
  put $d/modalias "pci:v0000${2^^}d0000${3^^}sv0000${4^^}sd0000${5^^}bc${c:0:2}sc${c:2:2}i${c:4:2}"
  link ../../../devices/pci0000:00/$1 sys/bus/pci/devices/$1
  if [ -n "$8" ]; then
    mkdir -p sys/bus/pci/drivers/$8
    link ../../../bus/pci/drivers/$8 $d/driver
    if [ -n "${9:-}" ] && [ ! -e sys/bus/pci/drivers/$8/module ]; then
      mkdir -p sys/module/$9
      link ../../../../module/$9 sys/bus/pci/drivers/$8/module
    fi
  fi
}
pci 0000:00:02.0 8086 3e92 1028 085a 030000 00 i915
pci 0000:00:14.0 8086 a36d 1028 085a 0c0330 10 xhci_hcd xhci_pci
pci 0000:00:1f.3 8086 a348 1028 085a 040300 10 ""
pci 0000:03:00.0 8086 15b8 1028 085a 020000 00 e1000e e1000e
pci 0000:05:00.0 1180 0476 1028 085a 060700 ba ""
put sys/module/xhci_pci/version "0.96"

usbdrv() { # driver module
  mkdir -p sys/bus/usb/drivers/$1
  if [ -n "$2" ] && [ ! -e sys/bus/usb/drivers/$1/module ]; then
    mkdir -p sys/module/$2
    link ../../../../module/$2 sys/bus/usb/drivers/$1/module
  fi
}
usbdrv usb usbcore; usbdrv hub usbcore; usbdrv usbhid usbhid; usbdrv usb-storage usb_storage

usbdev() { # path name vendor product bcd class sub prot interfaces product-string version
  local d=sys/devices/pci0000:00/0000:00:14.0/$1
  put $d/idVendor "$3"; put $d/idProduct "$4"; put $d/bcdDevice "$5"
  put $d/bDeviceClass "$6"; put $d/bDeviceSubClass "$7"; put $d/bDeviceProtocol "$8"
  put $d/bNumInterfaces " $9"; put $d/bNumConfigurations "1"
  [ -n "${10}" ] && put $d/product "${10}"
  put $d/version " ${11}"
  link ../../../devices/pci0000:00/0000:00:14.0/$1 sys/bus/usb/devices/$2
  local up=../../../../..
  [ "$1" = usb1 ] && up=../../../..
  link $up/bus/usb/drivers/usb $d/driver
}
usbif() { # device-path name vendor product bcd number class sub prot driver
  local d=sys/devices/pci0000:00/0000:00:14.0/$1/$2
  put $d/bInterfaceNumber "$6"; put $d/bInterfaceClass "$7"
  put $d/bInterfaceSubClass "$8"; put $d/bInterfaceProtocol "$9"
  put $d/modalias "usb:v${3^^}p${4^^}d$5dc00dsc00dp00ic$7isc$8ip$9in$6"
  link ../../../devices/pci0000:00/0000:00:14.0/$1/$2 sys/bus/usb/devices/$2
  if [ -n "${10}" ]; then
    local up=../../../../../..
    [ "$1" = usb1 ] && up=../../../../..
    link $up/bus/usb/drivers/${10} $d/driver
  fi
}
usbdev usb1 usb1 1d6b 0002 0601 09 00 01 1 "xHCI Host Controller" 2.00
usbif usb1 1-0:1.0 1d6b 0002 0601 00 09 00 00 hub
usbdev usb1/1-1 1-1 046d c52b 1201 00 00 00 2 "USB Receiver" 2.00
usbif usb1/1-1 1-1:1.0 046d c52b 1201 00 03 01 01 usbhid
usbif usb1/1-1 1-1:1.1 046d c52b 1201 01 03 01 02 ""
usbdev usb1/1-2 1-2 0781 5567 0100 00 00 00 1 "Clé USB" 2.00
usbif usb1/1-2 1-2:1.0 0781 5567 0100 00 08 06 50 usb-storage

acpi() { # name hid modalias driver-link-target status
  local d=sys/devices/LNXSYSTM:00/$1
  put $d/hid "$2"; put $d/modalias "$3"
  [ -n "${5:-}" ] && put $d/status "$5"
  link ../../../devices/LNXSYSTM:00/$1 sys/bus/acpi/devices/$1
  [ -n "$4" ] && link "$4" $d/driver
  return 0
}
mkdir -p sys/bus/acpi/drivers/button
link ../../../../module/button sys/bus/acpi/drivers/button/module
mkdir -p sys/module/button
acpi LNXSYSTM:00 LNXSYSTM "acpi:LNXSYSTM:" ""
acpi PNP0C0C:00 PNP0C0C "acpi:PNP0C0C:" ../../../bus/acpi/drivers/button 15
acpi PNP0303:00 PNP0303 "acpi:PNP0303:PNP030B:" "" 15
acpi PNP0A08:00 PNP0A08 "acpi:PNP0A08:PNP0A03:" ""
acpi ACPI0003:00 ACPI0003 "acpi:ACPI0003:" ../../../bus/acpi/drivers/button 0
mkdir -p "sys/bus/pnp/drivers/i8042 kbd" sys/devices/pnp0/00:01
link "../../../bus/pnp/drivers/i8042 kbd" sys/devices/pnp0/00:01/driver
link ../../pnp0/00:01 sys/devices/LNXSYSTM:00/PNP0303:00/physical_node

mkdir -p usr/lib/udev/hwdb.d
cat >usr/lib/udev/hwdb.d/20-pci-vendor-model.hwdb <<'HWDB'
# A few entries in the udev hardware database's source format.
pci:v00008086*
 ID_VENDOR_FROM_DATABASE=Intel Corporation

pci:v00008086d00003E92*
 ID_MODEL_FROM_DATABASE=CoffeeLake-S GT2 [UHD Graphics 630]

pci:v00008086d00003E92sv00001028sd0000085A*
 ID_MODEL_FROM_DATABASE=CoffeeLake-S GT2 [UHD Graphics 630] (OptiPlex board)

pci:v00008086d0000A36D*
 ID_MODEL_FROM_DATABASE=Cannon Lake PCH USB 3.1 xHCI Host Controller

pci:v00008086d000015B8*
 ID_MODEL_FROM_DATABASE=Ethernet Connection (2) I219-V
HWDB
cat >usr/lib/udev/hwdb.d/20-usb-vendor-model.hwdb <<'HWDB'
usb:v046D*
 ID_VENDOR_FROM_DATABASE=Logitech, Inc.

usb:v046DpC52B*
 ID_MODEL_FROM_DATABASE=Unifying Receiver
HWDB

# Modules: objects whose .modinfo section says what a real module's would.
mods=lib/modules/$rel
mkmod() { # relative-path modinfo...
  local src
  src=$(mktemp --suffix=.c)
  {
    printf '__attribute__((section(".modinfo"), used, aligned(1))) static const char m[] = '
    for f in "${@:2}"; do printf '"%s\\0" ' "$f"; done
    printf '"vermagic=%s SMP mod_unload modversions \\0";\n' "$rel"
  } >"$src"
  mkdir -p "$(dirname "$mods/$1")"
  gcc -c -o "$mods/$1" "$src"
  rm -f "$src"
}
mkmod kernel/drivers/gpu/drm/i915/i915.ko name=i915 intree=Y license=GPL \
  "author=Intel Corporation" "alias=pci:v00008086d00003E92sv*sd*bc03sc*i*"
mkmod kernel/drivers/usb/host/xhci-pci.ko name=xhci_pci intree=Y license=GPL \
  "author=Sarah Sharp" "alias=pci:v*d*sv*sd*bc0Csc03i30*"
mkmod kernel/drivers/hid/usbhid/usbhid.ko name=usbhid intree=Y license=GPL \
  "author=Jiri Kosina" "alias=usb:v*p*d*dc*dsc*dp*ic03isc*ip*in*"
mkmod kernel/drivers/usb/storage/usb-storage.ko name=usb_storage intree=Y license=GPL \
  "alias=usb:v0781p5567d0100dc*dsc*dp*ic*isc*ip*in*" "alias=usb:v*p*d*dc*dsc*dp*ic08isc06ip50in*"
mkmod updates/dkms/e1000e.ko name=e1000e version=3.8.7-NAPI license=GPL \
  "author=Intel Corporation, <linux.nics@intel.com>" "alias=pci:v00008086d000015B8sv*sd*bc*sc*i*"
printf '%s\n' kernel/drivers/acpi/button.ko kernel/drivers/usb/core/usbcore.ko \
  kernel/drivers/input/serio/i8042.ko >$mods/modules.builtin
printf 'button.license=GPL\0button.alias=acpi*:PNP0C0C:*\0button.alias=acpi*:ACPI_FPB:*\0usbcore.license=GPL\0i8042.license=GPL\0i8042.alias=acpi*:PNP0303:*\0' \
  >$mods/modules.builtin.modinfo
depmod -b "$out" "$rel"
# Only what libkmod reads; depmod's text forms stay out of the tree.
rm -f $mods/modules.{alias,dep,symbols,softdep,devname,builtin.alias}
touch -d 2024-02-03T12:00:00Z $mods/updates/dkms/e1000e.ko
echo "written: $out"
