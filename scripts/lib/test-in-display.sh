#!/usr/bin/env bash
# Runs inside the test session's single Xvfb display: a fresh Wine prefix,
# the Windows test programs through ctest, then every end-to-end script.
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/wine.sh

export KESTROVA_SRC=$PWD
export KESTROVA_BUILD_LINUX=$PWD/build/linux
export KESTROVA_BUILD_WIN32=$PWD/build/win32

wine_prefix_start "$PWD/build/wineprefix" win32
trap wine_prefix_stop EXIT

failed=()
ctest --preset win32 || failed+=("ctest win32")

for t in tests/e2e/*.sh; do
  [ -e "$t" ] || continue
  echo "== e2e: $t"
  t0=$SECONDS
  if timeout 600 bash "$t"; then
    echo "[  PASSED  ] $t ($((SECONDS - t0)) s)"
  else
    echo "[  FAILED  ] $t ($((SECONDS - t0)) s)"
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "All Windows and end-to-end tests passed."
