#!/usr/bin/env bash
# Runs every benchmark; each prints its figures and ratios against a reference measured in
# the same run. Loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD_DIR:-build}
scripts/deps.sh --bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target gorvex global_conf_bench >/dev/null
echo "== configuration read per request"
"$build/bench/global_conf_bench" --benchmark_color=false 2>/dev/null | tail -4
echo "== request road"
BENCH_BUILD_DIR=$build bash bench/road.sh
echo "== cost per request (allocations, CPU time)"
BENCH_BUILD_DIR=$build bash bench/road_cost.sh
echo "== cost of a request head's shape"
BENCH_BUILD_DIR=$build bash bench/head_cost.sh
echo "== cost of a request's content"
BENCH_BUILD_DIR=$build bash bench/input_cost.sh
echo "== AMQP round trips"
BENCH_BUILD_DIR=$build bash bench/amqp_roundtrip.sh
echo "== ownership of a long modem list (Redis store)"
BENCH_BUILD_DIR=$build bash bench/check_ids.sh
echo "== objects assembled from keys in a chosen order"
BENCH_BUILD_DIR=$build bash bench/json_merges.sh
echo "== memory held by one large body"
BENCH_BUILD_DIR=$build bash bench/body_memory.sh
