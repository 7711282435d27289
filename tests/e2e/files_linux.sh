#!/usr/bin/env bash
# The Linux command-line tool against hostile or broken files:
# - a template that cannot be read (a link leading nowhere, a name with '*',
#   a folder, a pipe) is a missing template: exit 3, the reason, nothing
#   written, the earlier report kept, and a pipe never makes it wait;
# - --open leaves the caller's stdout and stderr to the caller alone;
# - an activity log that cannot be written is said once and the scan goes on;
# - private folders that are links, open to others or another user's are
#   refused with a reason and nothing is written through a link (the last
#   case needs root, as CI runs).
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
scan=$KESTROVA_BUILD_LINUX/kestrova-scan
home=$(make_temp_home)
cleanup() {
  local p
  for p in $(cat "$home/opener-pids" 2>/dev/null); do kill "$p" 2>/dev/null || true; done
  rm -rf "$home"
}
trap cleanup EXIT
export HOME=$home XDG_RUNTIME_DIR= XDG_CACHE_HOME=$home/cache XDG_DATA_HOME=$home/data
mkdir -p "$XDG_CACHE_HOME" "$home/bin"

report=$(timeout 120 "$scan" 2>/dev/null) || fail "the first scan failed"
expect_file "$report"
cp -p "$report" "$home/good.html"

# Templates that exist in some sense but cannot be read.
cp "$KESTROVA_BUILD_LINUX/driver.html" "$home/real.html"
ln -s "$home/nowhere.html" "$home/dangling.html"
mkdir "$home/folder.html"
mkfifo "$home/fifo.html"
check_template() {  # template, words the reason holds
  local rc=0
  timeout 120 "$scan" --template "$1" >"$home/out" 2>"$home/err" || rc=$?
  expect_eq "$rc" 3 "exit code for the template $1"
  grep -q "Unable to file template , please re-install the application" "$home/err" ||
    fail "no template-missing text for $1"
  grep -qF "$1: $2" "$home/err" || fail "no reason '$2' for $1: $(cat "$home/err")"
  [ ! -s "$home/out" ] || fail "a report path was printed for $1"
  cmp -s "$report" "$home/good.html" || fail "the earlier report changed after the template $1"
}
check_template "$home/dangling.html" "No such file"
check_template "$home/r*.html" "No such file"
check_template "$home/folder.html" "it is a folder"
check_template "$home/fifo.html" "it is not a regular file"

# --open: an opener that talks and stays must not hold the caller's output.
cat >"$home/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$\$" >>"$home/opener-pids"
echo opener-noise
echo opener-noise >&2
exec sleep 600
EOF
chmod +x "$home/bin/xdg-open"
rc=0
PATH=$home/bin:$PATH timeout 60 bash -c '"$1" --open 2>"$2"' _ "$scan" "$home/open-err" \
  >"$home/open-out" || rc=$?
expect_eq "$rc" 0 "exit of 'kestrova-scan --open' read to its end"
expect_eq "$(cat "$home/open-out")" "$report" "stdout of --open"
for ((i = 0; i < 50; i++)); do [ -s "$home/opener-pids" ] && break; sleep 0.1; done
[ -s "$home/opener-pids" ] || fail "the opener was not started"
sleep 0.5
! grep -q opener-noise "$home/open-out" "$home/open-err" || fail "the opener wrote to the caller"

# An activity log that cannot be written.
rc=0
XDG_DATA_HOME=/proc/self timeout 120 "$scan" >"$home/out" 2>"$home/err" || rc=$?
expect_eq "$rc" 0 "exit with an unwritable log"
expect_eq "$(cat "$home/out")" "$report" "report path with an unwritable log"
expect_eq "$(grep -c 'activity log could not be written' "$home/err")" 1 "log problem lines"

# Hostile layouts: a work folder that is a link to an open folder, a log
# that is a link.
mkdir -m 777 "$home/open"
mkdir -m 700 "$home/cache2" "$home/data2"
ln -s "$home/open" "$home/cache2/pellucor"
rc=0
XDG_CACHE_HOME=$home/cache2 timeout 120 "$scan" >"$home/out" 2>"$home/err" || rc=$?
expect_eq "$rc" 1 "exit with a linked work folder"
grep -q "Refusing to use the folder $home/cache2/pellucor: it is a symbolic link" "$home/err" ||
  fail "no reason for the linked work folder: $(cat "$home/err")"
[ -z "$(ls -A "$home/open")" ] || fail "written through the linked work folder: $(ls "$home/open")"

mkdir -m 700 "$home/data2/pellucor"
echo keep >"$home/victim.txt"
ln -s "$home/victim.txt" "$home/data2/pellucor/log.txt"
rc=0
XDG_DATA_HOME=$home/data2 timeout 120 "$scan" >"$home/out" 2>"$home/err" || rc=$?
expect_eq "$rc" 0 "exit with a linked log"
grep -q "log.txt: it is a symbolic link" "$home/err" || fail "no reason for the linked log"
expect_eq "$(cat "$home/victim.txt")" keep "the file behind the linked log"

# A work folder others may open. (Every scan so far made a new report.)
cp -p "$report" "$home/good.html"
chmod 755 "$home/cache/pellucor"
rc=0
timeout 120 "$scan" >/dev/null 2>"$home/err" || rc=$?
expect_eq "$rc" 1 "exit with a work folder others may open"
grep -q "other users may open it (mode 0755)" "$home/err" || fail "no reason for an open folder"
chmod 700 "$home/cache/pellucor"
cmp -s "$report" "$home/good.html" || fail "a refused scan changed the report"

# As root with a user's environment (sudo -E): the user's own folder is
# not root's to write into.
if [ "$(id -u)" = 0 ]; then
  chown 65534:65534 "$home/cache/pellucor"
  rc=0
  timeout 120 "$scan" >/dev/null 2>"$home/err" || rc=$?
  expect_eq "$rc" 1 "exit as root with a user's work folder"
  grep -q "it belongs to another user (uid 65534)" "$home/err" ||
    fail "no reason for another user's folder"
  cmp -s "$report" "$home/good.html" || fail "root wrote into a user's folder"
else
  echo "note: not root, another user's folder not tried"
fi
pass
