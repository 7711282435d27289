#!/usr/bin/env bash
# kestrova-service on loopback, once over SQLite and once over a throw-away
# PostgreSQL cluster: the fixture report answered with its drivers, bad posts
# refused while the service keeps serving, a bounded load all stored, a
# kill -9 during a load losing no acknowledged report, SIGHUP refreshing the
# catalog, SIGTERM finishing in-flight posts, the first report of a scan id
# kept, two instances over one database, the database frozen (SIGSTOP) and
# continued, and the report page in Chromium showing the service's results.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/postgres.sh"
src=${KESTROVA_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${KESTROVA_BUILD_LINUX:-$src/build/linux}
svc=$build/kestrova-service
load=$build/kestrova-service-load
post=$src/tests/e2e/lib/report_post.py
[ -x "$svc" ] && [ -x "$load" ] || fail "build kestrova-service and kestrova-service-load first"
command -v curl >/dev/null || fail "curl is needed"

work=$(make_temp_home)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  pg_cluster_stop
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state

catalog=$work/catalog
cp -r "$src/tests/data/service/catalog" "$catalog"
SCANID=6F9619FF8B86D011B42D00C04FC964FF

# start_service NAME STORE -> URL in $url, pid in $pid; log in $work/NAME.log
start_service() {
  local name=$1 store=$2 out=$work/$1.out
  : >"$out"
  "$svc" --listen 127.0.0.1:0 --catalog "$catalog" --store "$store" --index "$work/index.sqlite" --threads 8 --per-client 100 \
    >"$out" 2>>"$work/$name.log" &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 1 300); do
    url=$(sed -n 's/^listening on //p' "$out")
    [ -n "$url" ] && return 0
    kill -0 "$pid" 2>/dev/null || { cat "$work/$name.log" >&2; fail "$name did not start"; }
    sleep 0.1
  done
  fail "$name did not start listening within 30 s"
}

# status URL [curl args...] -> HTTP status; the body is in $work/body
status() {
  local u=$1
  shift
  curl -s -o "$work/body" -w '%{http_code}' --max-time 30 "$@" "$u" || true
}

post_kind() {  # post_kind URL KIND SCANID -> status
  local ctype
  ctype=$(python3 "$post" "$2" "$3" "$work/req.body")
  status "$1/report" -H "Content-Type: $ctype" --data-binary "@$work/req.body"
}

wait_exit() {  # wait_exit PID SECONDS -> exit status of PID in $rc
  local p=$1
  for _ in $(seq 1 $(($2 * 10))); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$p" 2>/dev/null && fail "process $p still running after $2 s"
  rc=0
  wait "$p" || rc=$?
}

suite() {
  local store=$1 label=$2
  echo "-- $label"
  start_service "$label" "$store"
  expect_eq "$(status "$url/healthz")" 200 "$label: /healthz"

  # The fixture report: stored, answered with its drivers.
  expect_eq "$(post_kind "$url" form "$SCANID")" 200 "$label: the fixture report"
  grep -q "Fixture PCIe GbE Family Controller" "$work/body" || fail "$label: results page lacks the network driver"
  grep -q "Fixture High Definition Audio (OptiPlex)" "$work/body" || fail "$label: results page lacks the audio driver"
  grep -q "Fixture Management Engine Interface" "$work/body" || fail "$label: results page lacks the MEI driver"
  expect_eq "$(status "$url/api/reports/$SCANID")" 200 "$label: the stored report"
  python3 - "$work/body" "$SCANID" <<'PY' || fail "$label: the stored report's JSON"
import json, sys
r = json.load(open(sys.argv[1], encoding="utf-8"))
assert r["scanid"] == sys.argv[2], r["scanid"]
assert r["received"].endswith("Z")
assert r["setup_log"].endswith("pilote absent \u00ab \u20ac \u00bb"), r["setup_log"]
best = {d["name"]: (d["candidates"][0]["inf"], d["candidates"][0]["description"]) if d["candidates"] else None
        for d in r["devices"]}
assert best == {
    "Realtek PCIe GbE Family Controller": ("net/fxnet.inf", "Fixture PCIe GbE Family Controller"),
    "Contr\u00f4leur audio haute d\u00e9finition \u2014 \u20ac":
        ("audio/fxaudio.inf", "Fixture High Definition Audio (OptiPlex)"),
    "PCI Simple Communications Controller": ("system/fxmei.inf", "Fixture Management Engine Interface"),
    "Unknown Device": None,
}, best
PY
  # Lower-case scan id: the same report.
  expect_eq "$(status "$url/api/reports/${SCANID,,}")" 200 "$label: the scan id in lower case"
  # The same report again, as multipart: answered as before ("Send again").
  expect_eq "$(post_kind "$url" multipart "$SCANID")" 200 "$label: a multipart post of the same report"
  # Another report under that scan id: refused, the first one stays.
  expect_eq "$(post_kind "$url" other "$SCANID")" 409 "$label: another report under a stored scan id"
  expect_eq "$(status "$url/api/reports/$SCANID")" 200 "$label: the first report"
  grep -q "another computer" "$work/body" && fail "$label: the first report was replaced"

  # Bad posts: 4xx with a plain message, and the service keeps serving.
  expect_eq "$(post_kind "$url" bad-base64 00000000000000000000000000000001)" 400 "$label: bad Base64"
  grep -q "not Base64" "$work/body" || fail "$label: bad Base64 message: $(cat "$work/body")"
  expect_eq "$(post_kind "$url" wrong-fields 00000000000000000000000000000002)" 400 "$label: a wrong field count"
  expect_eq "$(post_kind "$url" form ../../../etc/passwd)" 400 "$label: a scan id with ../"
  expect_eq "$(post_kind "$url" form 0000000000000000000000000000001)" 400 "$label: a 31-digit scan id"
  grep -q "32 hexadecimal digits" "$work/body" || fail "$label: 31-digit scan id message: $(cat "$work/body")"
  expect_eq "$(post_kind "$url" json 00000000000000000000000000000003)" 415 "$label: a JSON body"
  head -c $((50 << 20)) /dev/zero | tr '\0' 'A' >"$work/big.body"
  local big
  big=$(status "$url/report" -H "Content-Type: application/x-www-form-urlencoded" --data-binary "@$work/big.body")
  # The service answers 413 as soon as it reads the length; curl may see the
  # connection closed before it finished sending.
  [ "$big" = 413 ] || [ "$big" = 000 ] || fail "$label: a 50 MiB body got $big"
  rm -f "$work/big.body"
  expect_eq "$(status "$url/api/reports/..%2F..%2Fetc%2Fpasswd")" 404 "$label: a path as scan id"
  expect_eq "$(status "$url/api/reports/00000000000000000000000000000001")" 404 "$label: a refused report"
  expect_eq "$(status "$url/healthz")" 200 "$label: serving after bad posts"

  # Bounded load: 200 posts from 20 threads, all stored and whole.
  "$load" --url "$url" --posts 200 --threads 20 --seconds 120 --seed A0000001 --acked "$work/load.acked" \
    || fail "$label: load refused posts"
  expect_eq "$(wc -l <"$work/load.acked")" 200 "$label: acknowledged posts under load"
  "$load" --url "$url" --verify "$work/load.acked" || fail "$label: reports missing after the load"

  # Reports of a well-equipped computer (200 devices, some 40 KB each).
  "$load" --url "$url" --posts 40 --threads 8 --devices 200 --seconds 120 --seed A0000005 \
    || fail "$label: large reports refused"

  # SIGHUP during a load: the new INF file is found, no post is dropped.
  cp -r "$src/tests/data/service/extra" "$catalog/extra"
  "$load" --url "$url" --posts 3000 --threads 8 --seconds 120 --seed A0000002 --acked "$work/hup.acked" \
    >/dev/null &
  local loader=$!
  for _ in $(seq 1 200); do [ "$(wc -l 2>/dev/null <"$work/hup.acked" || echo 0)" -ge 50 ] && break; sleep 0.05; done
  kill -HUP "$pid"
  [ "$(wc -l <"$work/hup.acked")" -lt 3000 ] || fail "$label: SIGHUP came after the load had finished"
  wait_exit "$loader" 120
  expect_eq "$rc" 0 "$label: posts during the refresh"
  expect_eq "$(wc -l <"$work/hup.acked")" 3000 "$label: acknowledged posts during the refresh"
  grep -q "catalog: 4 INF files" "$work/$label.log" || fail "$label: no refresh logged"
  for _ in $(seq 1 100); do
    status "$url/reports/$SCANID" >/dev/null
    grep -q "Fixture Sensor Hub" "$work/body" && break
    sleep 0.1
  done
  grep -q "Fixture Sensor Hub" "$work/body" || fail "$label: the refreshed catalog is not used"
  rm -rf "$catalog/extra"

  # kill -9 in the middle of a load; after a restart every acknowledged
  # report is there and whole.
  "$load" --url "$url" --posts 5000 --threads 20 --seconds 120 --seed A0000003 --acked "$work/kill.acked" \
    >/dev/null 2>&1 &
  loader=$!
  for _ in $(seq 1 200); do [ "$(wc -l 2>/dev/null <"$work/kill.acked" || echo 0)" -ge 50 ] && break; sleep 0.05; done
  kill -9 "$pid"
  wait "$pid" 2>/dev/null || true
  wait_exit "$loader" 120
  local acked
  acked=$(wc -l <"$work/kill.acked")
  [ "$acked" -ge 1 ] && [ "$acked" -lt 5000 ] || fail "$label: the kill did not land mid-load ($acked acknowledged)"
  start_service "$label-restarted" "$store"
  "$load" --url "$url" --verify "$work/kill.acked" || fail "$label: acknowledged reports lost to kill -9"
  "$load" --url "$url" --verify "$work/load.acked" >/dev/null || fail "$label: earlier reports lost to kill -9"
  # Posts in flight at the kill, acknowledged or not: absent or whole.
  "$load" --url "$url" --check A0000003 $((acked + 100)) || fail "$label: a half-stored report after kill -9"
  echo "$label: kill -9 after $acked acknowledged posts, all present after restart"

  # SIGTERM during a load: posts in flight are finished, exit status 0.
  "$load" --url "$url" --posts 5000 --threads 10 --seconds 120 --seed A0000004 --acked "$work/term.acked" \
    >"$work/term.load" 2>&1 &
  loader=$!
  for _ in $(seq 1 200); do [ "$(wc -l 2>/dev/null <"$work/term.acked" || echo 0)" -ge 10 ] && break; sleep 0.05; done
  kill -TERM "$pid"
  wait_exit "$pid" 30
  expect_eq "$rc" 0 "$label: exit status after SIGTERM"
  wait_exit "$loader" 120
  # Posts after the stop find no listener; none that reached it was refused.
  expect_eq "$rc" 0 "$label: posts answered with an error during shutdown: $(cat "$work/term.load")"
  [ "$(wc -l <"$work/term.acked")" -lt 5000 ] || fail "$label: SIGTERM came after the load had finished"
  start_service "$label-after-term" "$store"
  "$load" --url "$url" --verify "$work/term.acked" || fail "$label: acknowledged reports lost at SIGTERM"
  kill -TERM "$pid"
  wait_exit "$pid" 30
  rm -f "$work"/*.acked
}

suite "sqlite:$work/reports.sqlite" sqlite

# The report page in headless Chromium, posting to a service on loopback.
command -v node >/dev/null && command -v npm >/dev/null || fail "Node.js and npm are needed for the page test"
[ -x /usr/bin/chromium ] || [ -n "${KESTROVA_CHROMIUM:-}" ] || fail "Chromium is needed (scripts/deps.sh installs it)"
start_service page "sqlite:$work/reports.sqlite"
(cd "$src/tests/page" && NPM_CONFIG_UPDATE_NOTIFIER=false npm ci --no-audit --no-fund --loglevel=error >/dev/null &&
  KESTROVA_SERVICE_URL=$url KESTROVA_PAGE_WORK=$work node --test --test-concurrency=1 service_page.test.mjs) ||
  fail "the report page against the service"
kill -TERM "$pid"
wait_exit "$pid" 30

if [ -x "$PG_BIN/initdb" ]; then
  pg_cluster_start "$build/pg-service-test"
  suite "$PG_URL" postgresql
  # Two instances over one database: a report posted to one is read from the other.
  start_service pg-a "$PG_URL"
  url_a=$url pid_a=$pid
  start_service pg-b "$PG_URL"
  expect_eq "$(post_kind "$url_a" form 0123456789ABCDEF0123456789ABCDEF)" 200 "instance A: post"
  expect_eq "$(status "$url/api/reports/0123456789ABCDEF0123456789ABCDEF")" 200 "instance B: the report A stored"
  # The database restarts under a running service: its pooled connections
  # are replaced and the next post is stored.
  "$load" --url "$url" --posts 40 --threads 8 --seed A0000006 >/dev/null || fail "load before the database restart"
  pg_as_owner "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m fast -w -t 60 restart >/dev/null || fail "PostgreSQL restart"
  expect_eq "$(post_kind "$url" form 0123456789ABCDEF0123456789ABCDE0)" 200 "instance B: a post after the database restart"
  expect_eq "$(status "$url_a/api/reports/0123456789ABCDEF0123456789ABCDE0")" 200 "instance A: a read after the database restart"
  # The database frozen (every server process stopped): posts and
  # /healthz get 503 within the store's deadlines, other requests are
  # answered at once, and the service recovers when the database does.
  postmaster=$(head -n 1 "$PG_DIR/data/postmaster.pid")
  frozen=("$postmaster" $(pgrep -P "$postmaster" || true))
  kill -STOP "${frozen[@]}"
  started=$(date +%s%N)
  expect_eq "$(status "$url/nothing-here")" 404 "a 404 while the database is frozen"
  [ $((($(date +%s%N) - started) / 1000000)) -lt 1000 ] || fail "a 404 waited for the frozen database"
  started=$(date +%s%N)
  expect_eq "$(post_kind "$url" form 0123456789ABCDEF0123456789ABCDE1)" 503 "a post while the database is frozen"
  expect_eq "$(status "$url/healthz")" 503 "/healthz while the database is frozen"
  took=$((($(date +%s%N) - started) / 1000000))
  [ "$took" -lt 25000 ] || fail "503s took $took ms with the database frozen"
  kill -CONT "${frozen[@]}"
  for _ in $(seq 1 100); do [ "$(status "$url/healthz")" = 200 ] && break; sleep 0.2; done
  expect_eq "$(status "$url/healthz")" 200 "/healthz after the database came back"
  expect_eq "$(post_kind "$url" form 0123456789ABCDEF0123456789ABCDE1)" 200 "a post after the database came back"
  kill -TERM "$pid_a" "$pid"
  wait_exit "$pid_a" 30
  wait_exit "$pid" 30
  # The store's unit tests against the same cluster.
  KESTROVA_TEST_POSTGRES=$PG_URL "$build/tests/test_service" --gtest_filter='*postgresql*' --gtest_brief=1 \
    || fail "store tests against PostgreSQL"
  pg_cluster_stop
else
  fail "PostgreSQL server binaries missing ($PG_BIN); scripts/deps.sh installs them"
fi
pass
