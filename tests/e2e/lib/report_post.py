#!/usr/bin/env python3
"""Builds the report page's post for the service tests.

report_post.py KIND SCANID OUT  -> writes the body to OUT, prints its Content-Type.
KIND: form (as the page sends it), multipart, other (different content), bad-base64, wrong-fields, json.
The devices are those of the page tests' sample computer that the fixture
catalog (tests/data/service/catalog) has drivers for, plus one it lacks.
"""
import base64
import json
import sys
import urllib.parse

SEP = "[;]"
DEVICES = [
    ["Realtek PCIe GbE Family Controller", "10.38.1118.2019", "Realtek", "11-18-2019",
     "PCI\\VEN_10EC&DEV_8168&SUBSYS_0A6B1028&REV_15,",
     "PCI\\VEN_10EC&DEV_8168&SUBSYS_0A6B1028&REV_15,\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0001",
     "Net", "oem7.inf", "PCI\\VEN_10EC&DEV_8168&SUBSYS_0A6B1028&REV_15,PCI\\VEN_10EC&DEV_8168&REV_15,PCI\\VEN_10EC&DEV_8168,",
     "PCI\\VEN_10EC&CC_020000,PCI\\CC_0200,", "pci\\ven_10ec&dev_8168&rev_15", "43"],
    ["Contr\u00f4leur audio haute d\u00e9finition \u2014 \u20ac", "", "", "",
     "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662,", "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662,\\", "", "",
     "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662&SUBSYS_1028020D,HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662,", "", "", "28"],
    ["PCI Simple Communications Controller", "", "", "",
     "PCI\\VEN_8086&DEV_A13A&SUBSYS_07A81028&REV_31,", "PCI\\VEN_8086&DEV_A13A&SUBSYS_07A81028&REV_31,\\", "", "",
     "PCI\\VEN_8086&DEV_A13A&SUBSYS_07A81028&REV_31,PCI\\VEN_8086&DEV_A13A,", "PCI\\VEN_8086&CC_078000,PCI\\CC_0780,",
     "", "28"],
    ["Unknown Device", "", "", "", "ACPI\\INT33A1,", "ACPI\\INT33A1,\\", "", "", "ACPI\\INT33A1,*INT33A1,", "", "", "0"],
]
INFO = [("bios", "DELL   - 1072009,1.14.0"), ("Caption", "Microsoft Windows 10 Pro"), ("Version", "10.0.19045"),
        ("OSArchitecture", "64bits"), ("Model", "OptiPlex 7060 (0862)"), ("Manufacturer", "Dell Inc.")]
LOG = ">>>  [Device Install - HDAUDIO\\FUNC_01&VEN_10EC&DEV_0662]\r\n!!!  dvi: pilote absent \u00ab \u20ac \u00bb"


def b64(text):
    return base64.b64encode(text.encode("cp1252")).decode("ascii")


def fields(scanid, devices=DEVICES):
    data = "".join("\r\ndriver_%d=%s" % (i + 1, SEP.join(d)) for i, d in enumerate(devices))
    data += "\r\n" + "".join("\r\n%s=%s" % kv for kv in INFO)
    return [("drivers", b64(data).encode()), ("hwid", b64("WD-WCC6Y3KL5N2X").encode()),
            ("scanid", scanid.encode()), ("setup_api_log", LOG.encode("cp1252"))]


def urlencoded(pairs):
    return b"&".join(urllib.parse.quote_plus(k).encode() + b"=" + urllib.parse.quote_plus(v).encode()
                     for k, v in pairs)


def main():
    kind, scanid, out = sys.argv[1:4]
    ctype = "application/x-www-form-urlencoded"
    if kind == "form":
        body = urlencoded(fields(scanid))
    elif kind == "multipart":
        boundary = "----kestrova-test-boundary"
        parts = []
        for k, v in fields(scanid):
            parts.append(b"--" + boundary.encode() + b"\r\nContent-Disposition: form-data; name=\"" + k.encode() +
                         b"\"\r\n\r\n" + v + b"\r\n")
        body = b"".join(parts) + b"--" + boundary.encode() + b"--\r\n"
        ctype = "multipart/form-data; boundary=" + boundary
    elif kind == "bad-base64":
        pairs = fields(scanid)
        pairs[0] = ("drivers", b"%%%not*base64%%%")
        body = urlencoded(pairs)
    elif kind == "wrong-fields":
        short = [d[:9] for d in DEVICES]
        body = urlencoded(fields(scanid, short))
    elif kind == "other":  # another report under the same scan id
        pairs = fields(scanid)
        pairs[3] = ("setup_api_log", b"another computer")
        body = urlencoded(pairs)
    elif kind == "json":
        body = json.dumps({k: v.decode("latin1") for k, v in fields(scanid)}).encode()
        ctype = "application/json"
    else:
        sys.exit("unknown kind " + kind)
    with open(out, "wb") as f:
        f.write(body)
    print(ctype)


main()
