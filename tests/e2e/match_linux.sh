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
pass
