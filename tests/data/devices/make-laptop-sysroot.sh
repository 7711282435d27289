#!/usr/bin/env bash
# Rebuilds machines/laptop/: an older laptop (see README.md) whose kernel
# publishes no PCI revision attribute. The output is committed; run this
# only to change it.
#
#   PCI host bridge 8086:2a40 (agpgart-intel), graphics 8086:2a42 and
#   8086:2a43 with no driver, PCI Express ports 8086:2940/2942 (port
#   driver), subtractive-decode bridge 8086:2448 and LPC bridge 8086:2919
#   with no driver (the PCI core's), SMBus 8086:2930 and thermal 8086:2932
#   with no driver, UHCI 8086:2934 and EHCI 8086:293a with their root hubs
#   (vendor 0000, as kernels of that time gave them), audio, SATA, Ethernet
#   10ec:8136, wireless 168c:001c (out-of-tree driver ath_pci).
#   ACPI: PCI root, PIC, timer, HPET, DMA, speaker, FPU (kernel core);
#   CMOS clock, keyboard, touchpad, motherboard resources (PNP drivers);
#   EC, battery, AC adapter, lid and power button (ACPI drivers).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/machines/laptop
source "$here/sysroot-lib.sh"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

kernel 2.6.24-19-generic "#1 SMP Wed Aug 20 22:56:21 UTC 2008"
NO_REVISION_ATTR=1

p=sys/devices/pci0000:00
hp=103c; board=360b
#   dir                      vendor device subvendor subdevice class rev header driver module
pci $p/0000:00:00.0          8086 2a40 $hp $board 060000 07 00 agpgart-intel intel_agp_ich9m
pci $p/0000:00:02.0          8086 2a42 $hp $board 030000 07 80 ""
pci $p/0000:00:02.1          8086 2a43 $hp $board 038000 07 80 ""
pci $p/0000:00:1b.0          8086 293e $hp $board 040300 03 00 "HDA Intel" snd_hda_intel
pci $p/0000:00:1c.0          8086 2940 0000 0000 060400 03 81 pcieport-driver
pci $p/0000:00:1c.1          8086 2942 0000 0000 060400 03 81 pcieport-driver
pci $p/0000:00:1d.0          8086 2934 $hp $board 0c0300 03 80 uhci_hcd uhci_hcd
pci $p/0000:00:1d.7          8086 293a $hp $board 0c0320 03 00 ehci_hcd ehci_hcd
pci $p/0000:00:1e.0          8086 2448 0000 0000 060401 93 01 ""
pci $p/0000:00:1f.0          8086 2919 $hp $board 060100 03 80 ""
pci $p/0000:00:1f.2          8086 2929 $hp $board 010601 03 00 ahci ahci
pci $p/0000:00:1f.3          8086 2930 $hp $board 0c0500 03 00 ""
pci $p/0000:00:1f.6          8086 2932 $hp $board 118000 03 00 ""
pci $p/0000:00:1c.0/0000:01:00.0 10ec 8136 $hp $board 020000 02 00 r8169 r8169
pci $p/0000:00:1c.1/0000:02:00.0 168c 001c $hp 137a 020000 01 00 ath_pci ath_pci

# Root hubs: USB 1.1 behind UHCI, USB 2.0 behind EHCI.
usbdev $p/0000:00:1d.0/usb1 0000 0000 0206 09 00 00 1 "UHCI Host Controller" 1.10
usbif $p/0000:00:1d.0/usb1/1-0:1.0 0000 0000 0206 00 09 00 00 hub usbcore
usbdev $p/0000:00:1d.7/usb2 0000 0000 0206 09 00 00 1 "EHCI Host Controller" 2.00
usbif $p/0000:00:1d.7/usb2/2-0:1.0 0000 0000 0206 00 09 00 00 hub usbcore

acpi LNXSYSTM:00 LNXSYSTM "acpi:LNXSYSTM:"
acpi PNP0A08:00 PNP0A08 "acpi:PNP0A08:PNP0A03:"
acpi PNP0000:00 PNP0000 "acpi:PNP0000:"
acpi PNP0100:00 PNP0100 "acpi:PNP0100:"
acpi PNP0103:00 PNP0103 "acpi:PNP0103:"
acpi PNP0200:00 PNP0200 "acpi:PNP0200:"
acpi PNP0800:00 PNP0800 "acpi:PNP0800:"
acpi PNP0C04:00 PNP0C04 "acpi:PNP0C04:"
acpi PNP0B00:00 PNP0B00 "acpi:PNP0B00:"
pnp PNP0B00:00 00:03 rtc_cmos rtc_cmos
acpi PNP0303:00 PNP0303 "acpi:PNP0303:"
pnp PNP0303:00 00:04 "i8042 kbd" i8042
acpi SYN1E03:00 SYN1E03 "acpi:SYN1E03:SYN0100:SYN0002:PNP0F13:"
pnp SYN1E03:00 00:05 "i8042 aux" i8042
acpi PNP0C02:00 PNP0C02 "acpi:PNP0C02:"
pnp PNP0C02:00 00:01 system
acpi PNP0C09:00 PNP0C09 "acpi:PNP0C09:"
bind acpi sys/devices/LNXSYSTM:00/PNP0C09:00 ec
acpi PNP0C0A:00 PNP0C0A "acpi:PNP0C0A:"
bind acpi sys/devices/LNXSYSTM:00/PNP0C0A:00 battery battery
acpi ACPI0003:00 ACPI0003 "acpi:ACPI0003:"
bind acpi sys/devices/LNXSYSTM:00/ACPI0003:00 ac ac
acpi PNP0C0D:00 PNP0C0D "acpi:PNP0C0D:"
bind acpi sys/devices/LNXSYSTM:00/PNP0C0D:00 button button
acpi PNP0C0C:00 PNP0C0C "acpi:PNP0C0C:"
bind acpi sys/devices/LNXSYSTM:00/PNP0C0C:00 button button
echo "written: $out"
