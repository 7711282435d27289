#!/usr/bin/env bash
# Runs every fuzz_* program of the fuzz build for a fixed time with a fixed
# seed, each from its seed corpus in tests/fuzz/corpus/<what>/. New inputs go
# to a scratch folder, never into the committed corpus; a finding is written
# to <build>/findings/ and fails the run.
#   scripts/lib/fuzz.sh [SECONDS [BUILD]]   (default 20 per target, build/fuzz;
#                                           the asan build has them too)
set -uo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-20}
build=${2:-build/fuzz}
bin=$build/fuzz
findings=$build/findings
mkdir -p "$findings"

failed=()
ran=0
for target in "$bin"/fuzz_*; do
  [ -x "$target" ] || continue
  what=${target##*/fuzz_}
  corpus=tests/fuzz/corpus/$what
  work=$build/work/$what
  rm -rf "$work"
  mkdir -p "$work"
  echo "== fuzz_$what (${seconds}s)"
  if "$target" -seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/$what-" "$work" "$corpus" \
    >"$build/work/$what.log" 2>&1; then
    grep -E '^stat::number_of_executed_units' "$build/work/$what.log" || true
  else
    tail -n 25 "$build/work/$what.log"
    failed+=("fuzz_$what")
  fi
  ran=$((ran + 1))
done

if [ "$ran" -eq 0 ]; then
  echo "no fuzz_* programs in $bin: build the fuzz preset first" >&2
  exit 1
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]} (inputs in $findings/)"
  exit 1
fi
echo "All $ran fuzz targets ran clean."
