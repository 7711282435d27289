#!/usr/bin/env bash
# kestrova-service against a hostile client on loopback, about a minute:
# a report that once crashed the reader, endless headers, chunked and
# compressed bodies, a body of empty fields, an entry continued over many
# lines, 64 clients dribbling a byte a second, a body that never comes,
# a second report under a stored scan id, repeated reads of a large report,
# SIGHUP under posts, the store files' mode, and SIGTERM with slow clients
# still connected. Limits are asserted by the answers and by the service's
# resident memory (tests/e2e/lib/hostile_client.py).
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
src=${KESTROVA_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
build=${KESTROVA_BUILD_LINUX:-$src/build/linux}
svc=$build/kestrova-service
[ -x "$svc" ] || fail "build kestrova-service first"

work=$(make_temp_home)
pid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state
cp -r "$src/tests/data/service/catalog" "$work/catalog"

"$svc" --listen 127.0.0.1:0 --catalog "$work/catalog" --store "sqlite:$work/reports.sqlite" \
  --index "$work/index.sqlite" --threads 4 --header-timeout 30 --body-timeout 5 >"$work/out" 2>"$work/log" &
pid=$!
for _ in $(seq 1 300); do
  url=$(sed -n 's/^listening on //p' "$work/out")
  [ -n "$url" ] && break
  kill -0 "$pid" 2>/dev/null || { cat "$work/log" >&2; fail "the service did not start"; }
  sleep 0.1
done
[ -n "$url" ] || fail "the service did not start listening within 30 s"
port=${url##*:}

# Database files are the owner's only.
for f in "$work/reports.sqlite" "$work/index.sqlite"; do
  expect_eq "$(stat -c %a "$f")" 600 "mode of $(basename "$f")"
done

# SIGHUP again and again under posts: no post is answered 5xx.
statuses=$work/hup.statuses
for i in $(seq 1 40); do
  id=$(printf 'AB%030X' "$i")
  python3 "$src/tests/e2e/lib/report_post.py" form "$id" "$work/hup.body" >/dev/null
  curl -s -o /dev/null -w '%{http_code}\n' --max-time 30 -H "Content-Type: application/x-www-form-urlencoded" \
    --data-binary "@$work/hup.body" "$url/report" >>"$statuses" || echo 000 >>"$statuses"
  [ $((i % 4)) -eq 0 ] && kill -HUP "$pid"
done
expect_eq "$(sort -u "$statuses" | tr '\n' ' ')" "200 " "answers to posts during repeated SIGHUP"

timeout 120 python3 "$src/tests/e2e/lib/hostile_client.py" 127.0.0.1 "$port" "$pid" "$work" ||
  { tail -20 "$work/log" >&2; fail "the hostile client found a fault"; }
rc=0
wait "$pid" || rc=$?
pid=
expect_eq "$rc" 0 "exit status after SIGTERM"
pass
