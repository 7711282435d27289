#!/usr/bin/env bash
# kestrova-scan.exe on a Russian (code page 1251) and a Japanese (932)
# Windows: in a throw-away prefix per locale, a device name planted in the
# registry comes back exactly from the report, read by the page in Chromium,
# by kestrova-match and by the service.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$KESTROVA_SRC/scripts/lib/wine.sh"
win=$KESTROVA_BUILD_WIN32
linux=$KESTROVA_BUILD_LINUX
expect_file "$win/kestrova-scan.exe"
for program in kestrova-match kestrova-service; do
  [ -x "$linux/$program" ] || fail "build $program first"
done
command -v localedef >/dev/null || fail "localedef is needed (package locales)"

work=$(make_temp_home)
svc_pid=
cleanup() {
  [ -n "$svc_pid" ] && kill "$svc_pid" 2>/dev/null
  wine_prefix_stop
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state

# Wine takes the ANSI code page from the host locale, which must exist:
# generated into this test's own folder, not the system's.
export LOCPATH=$work/locales
mkdir -p "$LOCPATH"

( cd "$KESTROVA_SRC/tests/page" && [ -d node_modules ] ||
  npm ci --no-audit --no-fund --loglevel=error >/dev/null )

# The service, once: each scan posts its report with its own scan id.
"$linux/kestrova-service" --listen 127.0.0.1:0 --catalog "$KESTROVA_SRC/tests/data/service/catalog" \
  --store "sqlite:$work/reports.sqlite" --index "$work/index.sqlite" >"$work/svc.out" 2>"$work/svc.log" &
svc_pid=$!
url=
for _ in $(seq 1 300); do
  url=$(sed -n 's/^listening on //p' "$work/svc.out")
  [ -n "$url" ] && break
  kill -0 "$svc_pid" 2>/dev/null || { cat "$work/svc.log" >&2; fail "the service did not start"; }
  sleep 0.1
done
[ -n "$url" ] || fail "the service did not start listening within 30 s"

# check LOCALE CODE_PAGE NAME
check() {
  local locale=$1 code_page=$2 name=$3 dir=$work/$1
  mkdir -p "$dir"
  localedef -i "${locale%.UTF-8}" -f UTF-8 "$LOCPATH/$locale" 2>/dev/null ||
    [ -d "$LOCPATH/$locale" ] || fail "cannot generate the $locale locale"
  export LANG=$locale LC_ALL=$locale
  wine_prefix_start "$dir/prefix"
  # The device's name as the registry holds it: a UTF-16 .reg file.
  {
    printf '\xff\xfe'
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\HID\\VID_845E&PID_0001\\0&0000&0&0]\r\n"DeviceDesc"="%s"\r\n' "$name" |
      iconv -f UTF-8 -t UTF-16LE
  } >"$dir/name.reg"
  wine reg import "$(winepath -w "$dir/name.reg")" >/dev/null 2>&1 || fail "$locale: the .reg import"
  local acp
  acp=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null |
    tr -d '\r' | awk '/ACP/ {print $NF}')
  expect_eq "$acp" "$code_page" "$locale: the prefix's ANSI code page"

  cp "$win/kestrova-scan.exe" "$win/driver.html" "$dir/"
  timeout 300 wine "$dir/kestrova-scan.exe" --template "$(winepath -w "$dir/driver.html")" \
    --output "$(winepath -w "$dir/report.html")" >"$dir/scan.out" 2>&1 ||
    { cat "$dir/scan.out" >&2; fail "$locale: kestrova-scan.exe"; }
  wine_prefix_stop
  unset LANG LC_ALL
  expect_file "$dir/report.html"

  # The page.
  node "$KESTROVA_SRC/tests/page/shown_names.mjs" "$dir/report.html" >"$dir/page.txt"
  grep -qxF -- "$name" "$dir/page.txt" || { cat "$dir/page.txt" >&2; fail "$locale: the page does not show $name"; }
  ! grep -q '^--$' "$dir/page.txt" || { cat "$dir/page.txt" >&2; fail "$locale: the page warns"; }

  # kestrova-match.
  "$linux/kestrova-match" --catalog "$KESTROVA_SRC/tests/data/service/catalog" --index "$work/match.sqlite" \
    --json "$dir/report.html" >"$dir/match.json" 2>"$dir/match.err" ||
    { cat "$dir/match.err" >&2; fail "$locale: kestrova-match"; }
  grep -qF -- "\"$name\"" "$dir/match.json" || fail "$locale: kestrova-match does not show $name"

  # The service, posted as the page posts it.
  python3 - "$dir/report.html" "$dir/post.body" <<'PY'
import html, re, sys, urllib.parse
page = open(sys.argv[1], "rb").read().decode("latin-1")
data = re.search(r'<div id="report-data"[^>]*>', page).group(0)
field = lambda n: html.unescape(re.search(n + r'="([^"]*)"', data).group(1))
body = urllib.parse.urlencode({"drivers": field("data-drivers"), "hwid": field("data-hwid"),
                               "scanid": field("data-scanid"), "setup_api_log": ""})
open(sys.argv[2], "w").write(body)
PY
  local scan_id
  scan_id=$(sed -n 's/.*scanid=\([0-9A-F]*\).*/\1/p' "$dir/post.body")
  expect_eq "$(curl -s -o "$dir/post.answer" -w '%{http_code}' --max-time 30 \
    -H 'Content-Type: application/x-www-form-urlencoded' --data-binary "@$dir/post.body" "$url/report")" 200 \
    "$locale: the service takes the report ($(cat "$dir/post.answer" 2>/dev/null))"
  curl -s --max-time 30 "$url/api/reports/$scan_id" >"$dir/stored.json"
  grep -qF -- "\"$name\"" "$dir/stored.json" || fail "$locale: the service does not show $name"
  echo "$locale: $name read back by the page, kestrova-match and the service"
}

check ru_RU.UTF-8 1251 'Устройство ввода'
check ja_JP.UTF-8 932 'ソフトウェア キーボード表示ヘルパー'
pass
