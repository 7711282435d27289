#!/usr/bin/env bash
# Stored reports per second: kestrova-service over SQLite on loopback, 16
# concurrent clients posting generated reports (1 to 7 devices, then 200), every
# post acknowledged only after its commit. Target: at least 500 reports/s.
# Bounded: each round 4000 (or 1000 large) posts or 60 s, whichever comes
# first; three rounds of each size.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
# scripts/bench passes its Release build folder; by hand, the test build.
build=${KESTROVA_BENCH_BUILD:-${KESTROVA_BUILD_LINUX:-$src/build/linux}}
if [ -n "${KESTROVA_BENCH_BUILD:-}" ]; then
  cmake --build "$build" -j2 --target kestrova-service kestrova-service-load >/dev/null
fi
svc=$build/kestrova-service
load=$build/kestrova-service-load
[ -x "$svc" ] && [ -x "$load" ] || { echo "build kestrova-service and kestrova-service-load first" >&2; exit 1; }

source "$src/tests/e2e/lib/postgres.sh"
work=$(mktemp -d "$build/bench-service.XXXXXX")
pid=
stop_service() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; fi
  pid=
}
trap 'stop_service; pg_cluster_stop; rm -rf "$work"' EXIT
start_service() {  # start_service STORE -> $url
  XDG_CACHE_HOME=$work/cache "$svc" --listen 127.0.0.1:0 --catalog "$src/tests/data/service/catalog" \
    --store "$1" --index "$work/index.sqlite" --per-client 64 >"$work/out" 2>"$work/log" &
  pid=$!
  url=
  for _ in $(seq 1 300); do
    url=$(sed -n 's/^listening on //p' "$work/out")
    [ -n "$url" ] && return 0
    sleep 0.1
  done
  cat "$work/log" >&2
  echo "the service did not start" >&2
  exit 1
}
start_service "sqlite:$work/reports.sqlite"

# bench_round NAME POSTS DEVICES: three rounds, the best rate printed.
bench_round() {
  local best=0 line rate round
  for round in 1 2 3; do
    line=$("$load" --url "$url" --posts "$2" --threads 16 --seconds 60 --devices "$3" \
           --seed "B$(printf %03d "$3")$(printf %04d "$round")")
    rate=$(sed -n 's/.* reports\/s \([0-9.]*\).*/\1/p' <<<"$line")
    echo "  $1, round $round: $line"
    best=$(awk -v a="$best" -v b="$rate" 'BEGIN { print (b > a) ? b : a }')
  done
  if [[ $1 == service_sqlite* ]]; then
    local verdict=PASS
    awk -v b="$best" 'BEGIN { exit !(b >= 500) }' || { verdict=FAIL; missed=1; }
    printf '%s  %s %.0f (target >= 500)\n' "$verdict" "$1" "$best"
  else
    printf '%s %.0f\n' "$1" "$best"
  fi
}
missed=0
echo "kestrova-service, SQLite (WAL, synchronous=FULL, group commit), 16 loopback clients:"
bench_round service_sqlite_reports_per_second_small 4000 0
# A report of a well-equipped computer: 200 devices, about 40 KB of Base64.
bench_round service_sqlite_reports_per_second_200_devices 1000 200
stop_service

# For comparison, the shared store: a throw-away local PostgreSQL cluster.
if [ -x "$PG_BIN/initdb" ]; then
  pg_cluster_start "$build/pg-bench-service"
  start_service "$PG_URL"
  echo "kestrova-service, PostgreSQL (local cluster, Unix socket), 16 loopback clients:"
  bench_round service_postgresql_reports_per_second_small 4000 0
  stop_service
fi
exit $missed
