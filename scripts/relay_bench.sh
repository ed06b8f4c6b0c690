#!/bin/sh
# Builds the native tree and runs the relay throughput benchmark: execute
# and its pumps, the minimal 1,024-byte read-and-write loop (with and
# without a write per chunk) and "generator | cat" pipelines, each relaying
# about 1 GiB of 80-byte lines.
# Extra arguments go to the benchmark (for example --benchmark_repetitions=5).
set -e
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target relay_bench fake-checker
exec build/native/bench/relay_bench --benchmark_color=false \
  --benchmark_enable_random_interleaving=true "$@"
