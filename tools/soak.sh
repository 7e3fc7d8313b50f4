#!/usr/bin/env bash
# Builds and runs the soak: many acquisitions against qm6200-sim in one run of the program.
#   tools/soak.sh [cycles, default 1000]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/deps.sh" build
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQM6200_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/bench" --target soak
"$root/build/bench/bench/soak" --cycles "${1:-1000}"
