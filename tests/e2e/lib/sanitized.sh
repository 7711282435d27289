#!/usr/bin/env bash
# sanitized.sh LOGDIR COMMAND...: runs COMMAND with every sanitizer report of
# the programs it starts written under LOGDIR; fails when COMMAND fails or
# when any report was written, and prints the reports.
set -uo pipefail
logs=${1:?usage: sanitized.sh LOGDIR COMMAND...}
shift
rm -rf "$logs"
mkdir -p "$logs"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}log_path=$logs/asan"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}log_path=$logs/ubsan"
"$@"
rc=$?
reports=$(find "$logs" -type f | sort)
if [ -n "$reports" ]; then
  for r in $reports; do
    echo "== sanitizer report $r" >&2
    cat "$r" >&2
  done
  exit 1
fi
exit $rc
