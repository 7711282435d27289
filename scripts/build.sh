#!/usr/bin/env bash
# Configures and builds one preset: linux, win32, asan or fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:?usage: scripts/build.sh linux|win32|asan|fuzz [cmake -D options...]}
shift
cmake --preset "$preset" -Wno-dev "$@" >/dev/null
cmake --build --preset "$preset"
