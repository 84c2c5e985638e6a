#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
# Usage: scripts/test.sh [ctest arguments...]   (BUILD_DIR overrides the build folder)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build="${BUILD_DIR:-build}"
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELIO_WERROR="$werror"
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
