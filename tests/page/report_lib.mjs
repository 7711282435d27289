// Builds reports the way the program does: the scan data in its wire form,
// windows-1252 bytes, Base64, the placeholders replaced in order, and the
// setup-log excerpt HTML-escaped.
import crypto from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
export const SOURCE_DIR = process.env.KESTROVA_SRC || path.resolve(here, "../..");
export const SOURCE_TEMPLATE = path.join(SOURCE_DIR, "resources", "driver.html");
export const CRLF = "\r\n";
export const SEP = "[;]";

const HIGH = {
  0x20ac: 0x80, 0x201a: 0x82, 0x0192: 0x83, 0x201e: 0x84, 0x2026: 0x85, 0x2020: 0x86, 0x2021: 0x87,
  0x02c6: 0x88, 0x2030: 0x89, 0x0160: 0x8a, 0x2039: 0x8b, 0x0152: 0x8c, 0x017d: 0x8e, 0x2018: 0x91,
  0x2019: 0x92, 0x201c: 0x93, 0x201d: 0x94, 0x2022: 0x95, 0x2013: 0x96, 0x2014: 0x97, 0x02dc: 0x98,
  0x2122: 0x99, 0x0161: 0x9a, 0x203a: 0x9b, 0x0153: 0x9c, 0x017e: 0x9e, 0x0178: 0x9f,
};

// Text to windows-1252 bytes; throws on characters the code page lacks.
export function cp1252(text) {
  const out = [];
  for (const ch of text) {
    const c = ch.codePointAt(0);
    if (c < 0x80 || (c >= 0xa0 && c <= 0xff)) out.push(c);
    else if (HIGH[c] !== undefined) out.push(HIGH[c]);
    else throw new Error(`U+${c.toString(16)} is not in windows-1252`);
  }
  return Buffer.from(out);
}

export const base64Ansi = (text) => cp1252(text).toString("base64");

export function escapeHtml(text) {
  return text.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;")
      .replace(/"/g, "&quot;").replace(/'/g, "&#39;");
}

// Twelve fields of one device, in wire order.
export function entry(d) {
  return [d.name, d.version ?? "", d.provider ?? "", d.date ?? "", d.deviceId ?? "",
          d.driverPath ?? "", d.cls ?? "", d.inf ?? "", d.hwids ?? "", d.compat ?? "",
          d.matching ?? "", String(d.problem ?? 0)];
}

export function driverList(devices) {
  return devices.map((d, i) => `${CRLF}driver_${i + 1}=` + entry(d).join(SEP)).join("");
}

export function infoBlock(lines) {
  return lines.map(([label, value]) => `${CRLF}${label}=${value}`).join("");
}

export const scanData = (devices, info) => driverList(devices) + CRLF + infoBlock(info);

export function readSource() { return fs.readFileSync(SOURCE_TEMPLATE, "latin1"); }

// What configure_file(@ONLY) makes of the source.
export function configure(source, serviceUrl) {
  const csp = serviceUrl === "" ? "" : serviceUrl.replace(/\/+$/, "") + "/";
  return source.split("@KESTROVA_SERVICE_URL@").join(serviceUrl).split("@KESTROVA_SERVICE_CSP@").join(csp);
}

// The program's substitution: each placeholder everywhere, in this order.
// Values are given as raw report values (Base64 already applied);
// setupLog is the excerpt as SetupLogExcerpt returns it.
export function fillTemplate(template, { drivers, hwid, scanid, setupLog }) {
  const latin1 = (text) => cp1252(text).toString("latin1");
  let out = template;
  out = out.split("[drivers]").join(drivers);
  out = out.split("[hwid]").join(hwid);
  out = out.split("[scanid]").join(scanid);
  out = out.split("[setup_api_log]").join(latin1(escapeHtml(setupLog)));
  out = out.split("[proc]").join("");
  return Buffer.from(out, "latin1");
}

export function scriptHash(html) {
  const m = /<script>([\s\S]*?)<\/script>/.exec(html);
  return crypto.createHash("sha256").update(Buffer.from(m[1], "latin1")).digest("base64");
}

// A computer with devices of every kind the page distinguishes.
export const sampleDevices = [
  { name: "Intel(R) 82801 SATA AHCI Controller", version: "10.1.1.38", provider: "Intel", date: "6-21-2006",
    deviceId: "PCI\\VEN_8086&DEV_2829&SUBSYS_00000000&REV_02,",
    driverPath: "PCI\\VEN_8086&DEV_2829&SUBSYS_00000000&REV_02,\\{4d36e96a-e325-11ce-bfc1-08002be10318}\\0000",
    cls: "hdc", inf: "oem12.inf", hwids: "PCI\\VEN_8086&DEV_2829&SUBSYS_00000000&REV_02,PCI\\VEN_8086&DEV_2829,",
    compat: "PCI\\VEN_8086&CC_010601,PCI\\CC_0106,", matching: "pci\\ven_8086&dev_2829", problem: 0 },
  { name: "Contr\u00f4leur audio haute d\u00e9finition \u2014 \u20ac", version: "", provider: "", date: "",
    deviceId: "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662,", driverPath: "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662,\\",
    cls: "", inf: "", hwids: "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662&SUBSYS_1028020D,HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662,",
    compat: "", matching: "", problem: 28 },
  { name: "Standard PS/2 Keyboard", version: "10.0.19041.1", provider: "Microsoft", date: "6-21-2006",
    deviceId: "ACPI\\PNP0303,", driverPath: "ACPI\\PNP0303,\\{4d36e96b-e325-11ce-bfc1-08002be10318}\\0000",
    cls: "Keyboard", inf: "keyboard.inf", hwids: "ACPI\\PNP0303,*PNP0303,", compat: "", matching: "*pnp0303", problem: 0 },
  { name: "USB Composite Device", version: "10.0.19041.1", provider: "Microsoft", date: "6-21-2006",
    deviceId: "USB\\VID_046D&PID_C52B&REV_1211,", driverPath: "USB\\VID_046D&PID_C52B&REV_1211,\\{36fc9e60-c465-11cf-8056-444553540000}\\0012",
    cls: "USB", inf: "usb.inf", hwids: "USB\\VID_046D&PID_C52B&REV_1211,USB\\VID_046D&PID_C52B,",
    compat: "USB\\COMPOSITE,USB\\Class_00&SubClass_00&Prot_00,USB\\Class_00,", matching: "usb\\composite", problem: 22 },
  { name: "Realtek PCIe GbE Family Controller", version: "10.38.1118.2019", provider: "Realtek", date: "11-18-2019",
    deviceId: "PCI\\VEN_10EC&DEV_8168&SUBSYS_0A6B1028&REV_15,",
    driverPath: "PCI\\VEN_10EC&DEV_8168&SUBSYS_0A6B1028&REV_15,\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0001",
    cls: "Net", inf: "oem7.inf", hwids: "PCI\\VEN_10EC&DEV_8168&SUBSYS_0A6B1028&REV_15,PCI\\VEN_10EC&DEV_8168,",
    compat: "PCI\\VEN_10EC&CC_020000,PCI\\CC_0200,", matching: "pci\\ven_10ec&dev_8168&rev_15", problem: 43 },
  { name: "PCI Simple Communications Controller", version: "", provider: "", date: "",
    deviceId: "PCI\\VEN_8086&DEV_A13A&SUBSYS_07A81028&REV_31,", driverPath: "PCI\\VEN_8086&DEV_A13A&SUBSYS_07A81028&REV_31,\\",
    cls: "", inf: "", hwids: "PCI\\VEN_8086&DEV_A13A&SUBSYS_07A81028&REV_31,PCI\\VEN_8086&DEV_A13A,",
    compat: "PCI\\VEN_8086&CC_078000,PCI\\CC_0780,", matching: "", problem: 28 },
  { name: "NVIDIA GeForce GTX 1050", version: "27.21.14.5671", provider: "NVIDIA", date: "10-27-2020",
    deviceId: "PCI\\VEN_10DE&DEV_1C81&SUBSYS_11BF10DE&REV_A1,",
    driverPath: "PCI\\VEN_10DE&DEV_1C81&SUBSYS_11BF10DE&REV_A1,\\{4d36e968-e325-11ce-bfc1-08002be10318}\\0000",
    cls: "Display", inf: "oem31.inf", hwids: "PCI\\VEN_10DE&DEV_1C81&SUBSYS_11BF10DE&REV_A1,PCI\\VEN_10DE&DEV_1C81,",
    compat: "PCI\\VEN_10DE&CC_030000,PCI\\CC_0300,", matching: "pci\\ven_10de&dev_1c81", problem: 0 },
  { name: "HID-compliant mouse", version: "10.0.19041.1", provider: "Microsoft", date: "6-21-2006",
    deviceId: "HID\\VID_046D&PID_C52B&MI_01&Col01,", driverPath: "HID\\VID_046D&PID_C52B&MI_01&Col01,\\{4d36e96f-e325-11ce-bfc1-08002be10318}\\0003",
    cls: "Mouse", inf: "msmouse.inf", hwids: "HID\\VID_046D&PID_C52B&MI_01&Col01,HID_DEVICE_SYSTEM_MOUSE,",
    compat: "HID_DEVICE_UP:0001_U:0002,HID_DEVICE,", matching: "hid_device_system_mouse", problem: 0 },
];

export const sampleInfo = [
  ["bios", "DELL   - 1072009,1.14.0,American Megatrends - 5000B"],
  ["CSName", "DESKTOP-7QK2M4R"],
  ["Caption", "Microsoft Windows 10 Pro"],
  ["Version", "10.0.19045"],
  ["MaxProcessMemorySize", "137438953344"],
  ["OSArchitecture", "64bits"],
  ["IdentifyingNumber", "5CG7483XYZ"],
  ["CSProuctVersion", "1.14.0"],
  ["Model", "OptiPlex 7060 (0862)"],
  ["Manufacturer", "Dell Inc."],
];

export const sampleLog = [
  ">>>  [Device Install (Hardware initiated) - HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662\\4&2b5e1f&0&0001]",
  ">>>  Section start 2026/12/01 09:14:22.318",
  "     dvi: {Build Driver List} 09:14:22.402",
  "     dvi:      Searching for hardware ID(s): hdaudio\\func_01&ven_10ec&dev_0662&subsys_1028020d",
  "!!!  dvi: Device not found in any driver store \u2014 \u00ab pilote absent \u00bb",
  "<<<  Section end 2026/12/01 09:14:23.011",
  "<<<  [Exit status: FAILURE(0xe0000219)]",
].map((l) => CRLF + l).join("");
