#!/bin/sh
# The in-process benchmarks, side by side with their references, each
# summarised as median and min-max over repetitions:
#   staging   stage_files vs "cp --parents" vs a plain read/write loop, 10,000 files
#   reconcile the index vs the quadratic loop, 1k/10k/100k files
#   gate      whole gate runs next to starting the no-op checker alone
#   relay     execute vs the read/write loop, the same loop buffered, cat and
#             cat | cat (1 GiB)
#
# usage: scripts/bench/native.sh [staging|reconcile|gate|relay ...]  (default: all)
#
# Files go below a scratch folder in /dev/shm when it exists (TMPDIR and TEMP
# point there), so that file creation on disk does not hide the work
# measured. REPETITIONS (default 7; 5 for relay) sets the samples per
# benchmark. Needs cmake, ninja, g++, Google Benchmark and python3
# (scripts/test.sh installs the build tools).
set -eu
repo=$(cd "$(dirname "$0")/../.." && pwd)
which_ones=${*:-staging reconcile gate relay}
repetitions=${REPETITIONS:-7}

if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  scratch=/dev/shm/trelvik-bench-native
else
  scratch="${TMPDIR:-/tmp}/trelvik-bench-native"
fi
mkdir -p "$scratch"
export TMPDIR="$scratch" TEMP="$scratch"

cd "$repo"
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target staging_bench reconcile_bench gate_bench relay_bench \
  trelvik fake-checker >/dev/null

run() {
  name=$1
  baseline=$2
  shift 2
  echo "== $name"
  nice -n 0 "build/native/bench/${name}_bench" --benchmark_repetitions="$repetitions" \
    --benchmark_enable_random_interleaving=true --benchmark_format=json \
    --benchmark_out="$scratch/$name.json" --benchmark_out_format=json "$@" \
    >/dev/null 2>"$scratch/$name.log" || { cat "$scratch/$name.log" >&2; exit 1; }
  python3 scripts/bench/summarise_gbench.py "$scratch/$name.json" "$baseline"
}

for one in $which_ones; do
  case $one in
  staging) run staging BM_PlainLoop ;;
  reconcile) run reconcile BM_WithRealFiles ;;
  gate) run gate BM_CheckerAlone ;;
  relay)
    repetitions=${REPETITIONS:-5}
    # relay_bench repeats each benchmark five times itself.
    echo "== relay"
    nice -n 0 build/native/bench/relay_bench --benchmark_color=false \
      --benchmark_enable_random_interleaving=true \
      --benchmark_out="$scratch/relay.json" --benchmark_out_format=json 2>"$scratch/relay.log"
    tail -n 1 "$scratch/relay.log"
    python3 scripts/bench/summarise_gbench.py "$scratch/relay.json" BM_WriteLoop
    ;;
  *) echo "unknown benchmark: $one" >&2; exit 2 ;;
  esac
done
