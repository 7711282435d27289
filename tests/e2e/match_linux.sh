#!/usr/bin/env bash
# kestrova-match end to end: a kestrova-scan report of the fixture machine
# matched against a catalog of crafted and published INF files; the JSON is
# checked, and the results page is rendered in headless Chromium, where a
# hostile driver description must show as text.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
src=${KESTROVA_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${KESTROVA_BUILD_LINUX:-$src/build/linux}
scan=$build/kestrova-scan
match=$build/kestrova-match
[ -x "$match" ] || fail "kestrova-match is not built (KESTROVA_BUILD_IDENTIFICATION=OFF?)"
command -v node >/dev/null && command -v npm >/dev/null || fail "Node.js and npm are needed for the page test"

work=$(make_temp_home)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_RUNTIME_DIR= XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
mkdir -p "$XDG_CACHE_HOME" "$XDG_DATA_HOME"

# The fixture machine: DMI, disks and devices merged into one root.
sysroot=$work/sysroot
mkdir -p "$sysroot"
for tree in "$src"/tests/data/sysinfo/laptop "$src"/tests/data/ident/sysroot "$src"/tests/data/devices/sysroot; do
  cp -r "$tree"/. "$sysroot"/
done
# git keeps no file times; the out-of-tree module's date is its file's.
touch -d 2024-02-03T12:00:00Z "$sysroot/lib/modules/6.1.0-kestrova/updates/dkms/e1000e.ko"
report=$work/report.html
KESTROVA_SYSROOT=$sysroot "$scan" --template "$build/driver.html" --output "$report" >/dev/null 2>"$work/scan.err" ||
  { cat "$work/scan.err" >&2; fail "kestrova-scan wrote no report"; }

catalog=$work/catalog
mkdir -p "$catalog"
cp -r "$src"/tests/data/catalog/e2e/. "$catalog"/
cp -r "$src"/tests/data/catalog/published "$catalog"/

set +e
"$match" --catalog "$catalog" --json --output "$work/results.html" "$report" >"$work/out.json" 2>"$work/match.err"
rc=$?
set -e
expect_eq "$rc" 0 "kestrova-match exit status"
grep -q "skipped $catalog/broken/broken.inf:3: unknown Signature" "$work/match.err" ||
  { cat "$work/match.err" >&2; fail "the malformed INF was not reported with file and line"; }
expect_file "$work/results.html"
ls "$XDG_CACHE_HOME"/kestrova/catalog-*.sqlite >/dev/null || fail "no index in the cache folder"

python3 - "$work/out.json" <<'PY' || fail "JSON differs from what the catalog gives"
import json, sys
j = json.load(open(sys.argv[1]))
devices = {d["name"]: d for d in j["devices"]}
assert len(j["devices"]) == 13, len(j["devices"])
# A CardBus socket bridge needs its socket driver, so it is listed as needing one.
assert devices["PCI Bridge"]["problem"] == 28, devices["PCI Bridge"]
assert j["computer"]["OSArchitecture"] == "64bits", j["computer"]
net = devices["Ethernet Connection (2) I219-V"]
best = net["candidates"][0]
assert best["inf"] == "intel/e1d68x64.inf", best
assert best["match"] == "hardware" and best["matched_id"] == "PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028", best
assert best["driver_date"] == "2024-03-04" and best["driver_version"] == "12.19.2.45", best
assert best["newer_than_installed"] is True, (best, net["installed"])
assert best["description"].startswith("Intel(R) Ethernet Connection (2) I219-V <img"), best
assert [c["inf"] for c in net["candidates"]] == ["intel/e1d68x64.inf", "intel/old/e1d65x64.inf", "intel/e1d68x64.inf"], net
assert net["candidates"][2]["match"] == "compatible" and net["candidates"][2]["rank"] > best["rank"]
audio = devices["Multimedia Audio Controller"]
assert audio["problem"] == 28 and audio["installed"]["inf"] == ""
# The newer package is for x86 only: never offered to this 64-bit system.
assert [c["inf"] for c in audio["candidates"]] == ["audio/hdamd64.inf"], audio["candidates"]
assert audio["candidates"][0]["description"] == "Sonora HD Audio f\u00fcr Cannon Lake"
recv = devices["USB Composite Device"]["candidates"]
assert [c["inf"] for c in recv] == ["usb/receiver.inf"] and recv[0]["description"] == "Unifying Receiver \u2014 wireless"
assert devices["Cl\u00e9 USB"]["candidates"] == []
PY

# A second run reads the index it left; the answer is the same.
"$match" --catalog "$catalog" --json "$report" >"$work/again.json" 2>/dev/null
cmp -s "$work/out.json" "$work/again.json" || fail "second run gave other JSON"

# Not a report: status 3.
set +e
"$match" --catalog "$catalog" --json "$build/driver.html" >/dev/null 2>&1
rc=$?
set -e
expect_eq "$rc" 3 "exit status for the unfilled template"

cd "$src/tests/page"
npm ci --no-audit --no-fund --loglevel=error >/dev/null
KESTROVA_RESULTS_PAGE=$work/results.html KESTROVA_PAGE_WORK=$work node --test --test-concurrency=1 results_page.test.mjs

# The install block for the report's Windows: a Windows 10 and an XP report
# of a toaster with no driver, against the published multi-platform toaster
# package (its x86 files under i386/, its amd64 files under amd64/).
toasters=$work/toasters
mkdir -p "$toasters/toaster/i386"
cp "$src"/tests/data/catalog/published/multiarch/toastpkg.inf "$toasters/toaster/"
printf 'stand-in\n' >"$toasters/toaster/i386/toaster.sys"
for system in win10 xp; do
  python3 - "$build/driver.html" "$system" "$work/$system.html" <<'PY'
import base64, sys
template, system, out = sys.argv[1:]
info = {"win10": [("Caption", "Microsoft Windows 10 Pro"), ("Version", "10.0.19045"), ("OSArchitecture", "64bits")],
        "xp": [("Caption", "Microsoft Windows XP Professional"), ("Version", "5.1.2600"), ("OSArchitecture", "32bits")]}[system]
fields = ["Toaster", "", "", "", "ROOT\\TOASTER\\0000", "", "TOASTER", "",
          "{b85b7c50-6a01-11d2-b841-00c04fad5171}\\MsToaster,", "", "", "28"]
data = "\r\ndriver_1=" + "[;]".join(fields) + "\r\n" + "".join("\r\n%s=%s" % kv for kv in info)
page = open(template, encoding="cp1252").read()
for k, v in {"[drivers]": base64.b64encode(data.encode("cp1252")).decode(), "[hwid]": base64.b64encode(b"1").decode(),
             "[scanid]": "0123456789ABCDEF0123456789ABCDEF", "[setup_api_log]": "", "[proc]": ""}.items():
    page = page.replace(k, v)
open(out, "w", encoding="cp1252").write(page)
PY
  "$match" --catalog "$toasters" --index "$work/toasters.sqlite" --output "$work/install-$system.html" "$work/$system.html" \
    2>"$work/match-$system.err" || { cat "$work/match-$system.err" >&2; fail "kestrova-match failed on the $system report"; }
done
# A catalog of archives: the toaster package as a vendor cab inside a zip, and
# a hostile zip beside it, skipped with its reason.
archives=$work/archives
mkdir -p "$archives"
(cd "$src/tests/data/packages/toaster" && gcab -c -z "$work/toaster.cab" toastpkg.inf toastpkg.cat TOASTER.SYS)
python3 - "$work/toaster.cab" "$archives" <<'PY'
import sys, zipfile
cab, folder = sys.argv[1:]
with zipfile.ZipFile(folder + "/bundle.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.write(cab, "wu/toaster.cab")
with zipfile.ZipFile(folder + "/evil.zip", "w") as z:
    z.writestr("../evil.inf", "[Version]\n")
PY
"$match" --catalog "$archives" --index "$work/archives.sqlite" --json --output "$work/archives.html" "$work/win10.html" \
  >"$work/archives.json" 2>"$work/archives.err" || { cat "$work/archives.err" >&2; fail "kestrova-match failed on a catalog of archives"; }
grep -qF "skipped $archives/evil.zip: member \"../evil.inf\" would be unpacked outside its folder" "$work/archives.err" ||
  { cat "$work/archives.err" >&2; fail "the hostile zip was not skipped with its reason"; }
python3 - "$work/archives.json" <<'PY' || fail "the toaster in the cab in the zip was not offered"
import json, sys
best = json.load(open(sys.argv[1]))["devices"][0]["candidates"][0]
assert best["inf"] == "bundle.zip!/wu/toaster.cab!/toastpkg.inf" and best["package"]["complete"], best
PY
grep -qF "Unpack <span class=\"mono\">$archives/bundle.zip</span> into a folder of its own, then <span class=\"mono\">wu/toaster.cab</span> from it" \
  "$work/archives.html" || fail "the results page does not say which archives to unpack"

KESTROVA_INSTALL_WIN10=$work/install-win10.html KESTROVA_INSTALL_XP=$work/install-xp.html KESTROVA_PAGE_WORK=$work \
  node --test --test-concurrency=1 install_block.test.mjs
pass
