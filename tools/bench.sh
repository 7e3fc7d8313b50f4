#!/usr/bin/env bash
# Builds the receive benchmark with optimisation (installing what is missing) and runs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/deps.sh" build
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQM6200_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/bench" --target receive_bench
"$root/build/bench/bench/receive_bench"
