#!/usr/bin/env bash
# Builds the program (installing what is missing) and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/deps.sh" build run
cmake -S "$root" -B "$root/build/app" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQM6200_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/app" --target qm6200-datalink
exec "$root/build/app/shell/qm6200-datalink" "$@"
