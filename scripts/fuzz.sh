#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset) and runs each one on a scratch
# copy of its seed corpus, so the corpus in the repository never grows.
#
#   scripts/fuzz.sh [seconds-per-target] [runs-per-target]
#
# Seconds default to 15; 0 means no time limit. Runs default to no limit.
# A target stops at whichever limit comes first, or at its first finding.
# Prints "<target>: <executions> executions, <N> findings" per target and
# exits 1 when any target found a crash, leak, timeout or oracle mismatch;
# the scratch folder with the failing input is then kept and named.
# TRELVIK_FUZZ_DETAILS=1 adds a line per target with time, rate and corpus;
# TRELVIK_FUZZ_TARGETS="regex ant" runs only the targets named.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-15}
runs=${2:--1}
read -r -a targets <<<"${TRELVIK_FUZZ_TARGETS:-regex reconcile quote}"

source scripts/lib/setup.sh
need_packages cmake ninja-build clang libclang-rt-14-dev

build_log=$(mktemp)
if ! { cmake --preset fuzz && cmake --build --preset fuzz -j2; } >"$build_log" 2>&1; then
  cat "$build_log"
  rm -f "$build_log"
  echo "fuzz targets failed to build"
  exit 1
fi
rm -f "$build_log"

# Longest input per target: the oracles are quadratic or worse.
max_len() {
  case $1 in
  regex) echo 512 ;;
  *) echo 2048 ;;
  esac
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/trelvik-fuzz.XXXXXX")
failed=0
for target in "${targets[@]}"; do
  work="$scratch/$target"
  mkdir -p "$work/corpus" "$work/findings"
  cp fuzz/corpus/"$target"/* "$work/corpus/"
  options=(-max_len="$(max_len "$target")" -timeout=20 -rss_limit_mb=2048
           -artifact_prefix="$work/findings/" -print_final_stats=1)
  ((seconds > 0)) && options+=(-max_total_time="$seconds")
  ((runs >= 0)) && options+=(-runs="$runs")
  [[ -f fuzz/$target.dict ]] && options+=(-dict="fuzz/$target.dict")

  start=$(date +%s)
  status=0
  build/fuzz/fuzz/"${target}_fuzz" "${options[@]}" "$work/corpus" >"$work/log" 2>&1 || status=$?
  elapsed=$(($(date +%s) - start))

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
  if [[ -z $executions ]]; then
    # No final statistics after a crash: take the last progress line.
    executions=$(grep -o '^#[0-9]*' "$work/log" | tail -n 1 | tr -d '#')
  fi
  findings=$(find "$work/findings" -type f | wc -l)
  if ((status != 0 && findings == 0)); then
    findings=1 # the target died without writing its input (see the log)
  fi
  echo "$target: ${executions:-0} executions, $findings findings"
  if [[ ${TRELVIK_FUZZ_DETAILS:-0} == 1 ]]; then
    corpus=$(find "$work/corpus" -type f | wc -l)
    rate=$((${executions:-0} / (elapsed > 0 ? elapsed : 1)))
    echo "  $target: ${elapsed} s, $rate exec/s, corpus $corpus inputs"
  fi
  if ((findings > 0)); then
    failed=1
    for input in "$work"/findings/*; do
      [[ -f $input ]] && echo "  finding: $input"
    done
    echo "  log: $work/log"
  fi
done

if ((failed)); then
  echo "fuzzing found problems; scratch folder kept: $scratch"
  exit 1
fi
rm -rf "$scratch"
