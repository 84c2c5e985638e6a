#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program on this machine's display.
# Usage: scripts/demo.sh [command line of the program]
#   scripts/demo.sh "1234/My+Company/홍길동/010-1234-5678"
#   scripts/demo.sh review
# Without a display (no $DISPLAY), it starts a private Xvfb and says where to look.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target pelio

# The program keeps its settings and history beside itself: run a copy from a demo folder.
demo="${DEMO_DIR:-$build/demo}"
mkdir -p "$demo"
cp "$build/src/pelio" "$demo/pelio"

if [ -z "${DISPLAY:-}" ]; then
  Xvfb :99 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  export DISPLAY=:99
  echo "demo: no display; started Xvfb on :99"
fi
[ "$#" -eq 0 ] && set -- "1234/My+Company/홍길동/010-1234-5678"
exec "$demo/pelio" "$@"
