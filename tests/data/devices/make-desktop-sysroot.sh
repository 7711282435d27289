#!/usr/bin/env bash
# Rebuilds machines/desktop/: a current desktop (see README.md). The output
# is committed; run this only to change it.
#
#   PCI root complex 1022:1480 and a dummy host bridge 1022:1482 with no
#   driver (the PCI core's), a GPP bridge 1022:1483 (port driver), SMBus
#   1022:790b (piix4_smbus), LPC bridge 1022:790e with no driver, data
#   fabric 1022:1443 (k10temp), NVMe 144d:a808, Ethernet 8086:1539 (igb),
#   reserved function 1022:1485 with no driver, xHCI 1022:149c with its
#   USB 2.0 and 3.x root hubs, HD audio 1022:1487.
#   USB: a composite receiver 046d:c52b (three HID interfaces, usbhid on
#   each) and a Bluetooth radio 8087:0029 (class E0, two interfaces: one
#   device).
#   ACPI: PCI root and speaker (kernel core), motherboard resources (PNP
#   "system"), power button (ACPI "button").
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/machines/desktop
source "$here/sysroot-lib.sh"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

kernel 5.4.0-47-generic "#51-Ubuntu SMP Fri Sep 4 19:50:52 UTC 2020"

p=sys/devices/pci0000:00
msi=1462; board=7c35
#   dir                      vendor device subvendor subdevice class rev header driver module
pci $p/0000:00:00.0          1022 1480 $msi $board 060000 00 00 ""
pci $p/0000:00:01.0          1022 1482 0000 0000 060000 00 00 ""
pci $p/0000:00:01.1          1022 1483 0000 0000 060400 00 01 pcieport
pci $p/0000:00:14.0          1022 790b $msi $board 0c0500 61 80 piix4_smbus i2c_piix4
pci $p/0000:00:14.3          1022 790e $msi $board 060100 51 80 ""
pci $p/0000:00:18.3          1022 1443 0000 0000 060000 00 80 k10temp k10temp
pci $p/0000:00:01.1/0000:01:00.0 144d a808 144d a801 010802 00 00 nvme nvme
pci $p/0000:26:00.0          8086 1539 $msi $board 020000 03 00 igb igb
pci $p/0000:2a:00.0          1022 1485 $msi $board 130000 00 80 ""
pci $p/0000:2a:00.3          1022 149c 1022 148c 0c0330 00 80 xhci_hcd xhci_pci
pci $p/0000:2f:00.4          1022 1487 $msi cc35 040300 00 80 snd_hda_intel snd_hda_intel

x=$p/0000:2a:00.3
usbdev $x/usb3 1d6b 0002 0504 09 00 01 1 "xHCI Host Controller" 2.00
usbif $x/usb3/3-0:1.0 1d6b 0002 0504 00 09 00 00 hub usbcore
usbdev $x/usb4 1d6b 0003 0504 09 00 03 1 "xHCI Host Controller" 3.10
usbif $x/usb4/4-0:1.0 1d6b 0003 0504 00 09 00 00 hub usbcore
usbdev $x/usb3/3-2 046d c52b 1210 00 00 00 3 "USB Receiver" 2.00
usbif $x/usb3/3-2/3-2:1.0 046d c52b 1210 00 03 01 01 usbhid usbhid
usbif $x/usb3/3-2/3-2:1.1 046d c52b 1210 01 03 01 02 usbhid usbhid
usbif $x/usb3/3-2/3-2:1.2 046d c52b 1210 02 03 00 00 usbhid usbhid
usbdev $x/usb3/3-4 8087 0029 0001 e0 01 01 2 "" 2.01
usbif $x/usb3/3-4/3-4:1.0 8087 0029 0001 00 e0 01 01 btusb btusb
usbif $x/usb3/3-4/3-4:1.1 8087 0029 0001 01 e0 01 01 btusb btusb

acpi LNXSYSTM:00 LNXSYSTM "acpi:LNXSYSTM:" 15
acpi PNP0A08:00 PNP0A08 "acpi:PNP0A08:PNP0A03:" 15
acpi PNP0800:00 PNP0800 "acpi:PNP0800:" 15
acpi PNP0C02:00 PNP0C02 "acpi:PNP0C02:" 15
pnp PNP0C02:00 00:01 system
acpi PNP0C0C:00 PNP0C0C "acpi:PNP0C0C:" 15
bind acpi sys/devices/LNXSYSTM:00/PNP0C0C:00 button button
echo "written: $out"
