#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it on the simulated board.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DRMX_BUILD_TESTS=OFF
cmake --build "$root/build" --target rmx4218
exec "$root/build/src/shell/rmx4218" --port mockup "$@"
