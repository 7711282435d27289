#!/usr/bin/env bash
# Checks that every C++ file under src/ and tests/ is formatted as
# .clang-format says; prints the files that are not. `--fix` formats them.
set -euo pipefail
cd "$(dirname "$0")/../.."
mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' ':!tests/fuzz/corpus/*')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted as .clang-format says (scripts/lib/format-check.sh --fix):\n' >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "${#files[@]} C++ files formatted as .clang-format says"
