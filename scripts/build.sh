#!/usr/bin/env bash
# Configures and builds one preset: linux or win32.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:?usage: scripts/build.sh linux|win32 [cmake -D options...]}
shift
cmake --preset "$preset" -Wno-dev "$@" >/dev/null
cmake --build --preset "$preset"
