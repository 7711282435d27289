# Helpers for the scripts that write fixture systems (sourced, not run).
# Every path is relative to the tree being written, the current folder.

put() { mkdir -p "$(dirname "$1")"; printf '%s\n' "$2" >"$1"; }
# A relative symbolic link $2 -> $1, as sysfs has them.
link() { mkdir -p "$(dirname "$2")"; ln -sr "$1" "$2"; }

kernel() { # release version-banner
  put proc/sys/kernel/osrelease "$1"
  put proc/sys/kernel/version "$2"
}

le16() { printf '\\x%s\\x%s' "${1:2:2}" "${1:0:2}"; }

# The first 64 bytes of configuration space (what a user may read):
# header type 0 carries the subsystem ids at 0x2C, type 1 (a bridge) does not.
config() { # file vendor device revision class header subvendor subdevice
  local c=$5 bytes
  bytes=$(le16 "$2")$(le16 "$3")'\x07\x00\x10\x00'"\\x$4\\x${c:4:2}\\x${c:2:2}\\x${c:0:2}"
  bytes+='\x10\x00'"\\x$6"'\x00'
  bytes+=$(printf '\\x00%.0s' $(seq 16 43))
  if [ "$6" = 00 ] || [ "$6" = 80 ]; then
    bytes+=$(le16 "$7")$(le16 "$8")
  else
    bytes+='\x00\x00\x00\x00'
  fi
  bytes+='\x00\x00\x00\x00\x50'$(printf '\\x00%.0s' $(seq 53 59))'\x0b\x01\x00\x00'
  printf '%b' "$bytes" >"$1"
}

# A PCI function. With NO_REVISION_ATTR set there is no revision attribute
# (kernels before 3.10); configuration space has the revision all the same.
pci() { # dir vendor device subvendor subdevice class revision header driver [module]
  local d=$1 c=${6^^} bdf
  bdf=$(basename "$d")
  put "$d/vendor" "0x$2"; put "$d/device" "0x$3"
  put "$d/subsystem_vendor" "0x$4"; put "$d/subsystem_device" "0x$5"
  put "$d/class" "0x$6"
  [ -z "${NO_REVISION_ATTR:-}" ] && put "$d/revision" "0x$7"
  config "$d/config" "$2" "$3" "$7" "$6" "$8" "$4" "$5"
  put "$d/modalias" "pci:v0000${2^^}d0000${3^^}sv0000${4^^}sd0000${5^^}bc${c:0:2}sc${c:2:2}i${c:4:2}"
  link "$d" "sys/bus/pci/devices/$bdf"
  [ -n "$9" ] && bind pci "$d" "$9" "${10:-}"
  return 0
}

# Binds a device to a driver of a bus; the driver's module when given.
bind() { # bus device-dir driver [module]
  mkdir -p "sys/bus/$1/drivers/$3"
  link "sys/bus/$1/drivers/$3" "$2/driver"
  if [ -n "${4:-}" ] && [ ! -e "sys/bus/$1/drivers/$3/module" ]; then
    mkdir -p "sys/module/$4"
    link "sys/module/$4" "sys/bus/$1/drivers/$3/module"
  fi
}

usbdev() { # dir vendor product bcd class sub prot interfaces product-string version
  local d=$1
  put "$d/idVendor" "$2"; put "$d/idProduct" "$3"; put "$d/bcdDevice" "$4"
  put "$d/bDeviceClass" "$5"; put "$d/bDeviceSubClass" "$6"; put "$d/bDeviceProtocol" "$7"
  put "$d/bNumInterfaces" " $8"; put "$d/bNumConfigurations" "1"
  [ -n "$9" ] && put "$d/product" "$9"
  put "$d/version" " ${10}"
  link "$d" "sys/bus/usb/devices/$(basename "$d")"
  bind usb "$d" usb usbcore
}

usbif() { # dir vendor product bcd number class sub prot driver [module]
  local d=$1
  put "$d/bInterfaceNumber" "$5"; put "$d/bInterfaceClass" "$6"
  put "$d/bInterfaceSubClass" "$7"; put "$d/bInterfaceProtocol" "$8"
  put "$d/modalias" "usb:v${2^^}p${3^^}d$4dc00dsc00dp00ic${6^^}isc${7^^}ip${8^^}in$5"
  link "$d" "sys/bus/usb/devices/$(basename "$d")"
  [ -n "$9" ] && bind usb "$d" "$9" "${10:-}"
  return 0
}

acpi() { # name hid modalias [status]
  local d=sys/devices/LNXSYSTM:00/$1
  put "$d/hid" "$2"; put "$d/modalias" "$3"
  [ -n "${4:-}" ] && put "$d/status" "$4"
  link "$d" "sys/bus/acpi/devices/$1"
}

# An ACPI device driven through the PNP device made for it.
pnp() { # acpi-name pnp-name driver [module]
  local d=sys/devices/pnp0/$2
  mkdir -p "$d"
  bind pnp "$d" "$3" "${4:-}"
  link "$d" "sys/devices/LNXSYSTM:00/$1/physical_node"
}
