#!/usr/bin/env bash
# What objects assembled from keys in an order a caller or a back-end chooses cost against the
# same keys in ascending order, now and as they were assembled before (one insert per key):
# the query over a request body, modem replies of 8 instances, station statistics of 4.
# BENCH_SCALE multiplies the sizes (1: 200,000 body keys and 9,000 query items, 8 x 25,000
# reply keys, 4 x 50,000 stations); BENCH_ROUNDS (3) rounds, the fastest counts. No network.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 4 --target json_merge_bench >/dev/null
"$build/bench/json_merge_bench"
