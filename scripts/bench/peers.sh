#!/bin/sh
# The whole gate, and trelvik-git running it as a git hook, next to the
# pre-commit runners lint-staged, lefthook and pre-commit, each doing the
# same job on the same commit: select the .c files
# outside test/ folders ("**/*.c", exclude "**/test/**") among N staged
# source files and run one no-op checker over them. The gate reads
# "**/test/**" as "test\" preceded by anything, so it also drops folders
# whose names end in "test" (include/gtest/); the peers' patterns say the
# same, so that all four select exactly the same files.
#
# usage: scripts/bench/peers.sh [COUNT...]        (default: 50 1000 10000)
#
# Needs, and installs when missing (as root, with apt-get): git, pre-commit,
# nodejs, npm, python3 and gnuplot (it draws the run as peers.svg, beside
# BENCHMARKS.md); the npm peers (versions pinned in bench/peers/package.json)
# go into a scratch folder, never into the repository. Building the gate needs the project's
# build tools (scripts/test.sh installs them) unless TRELVIK names a built
# gate. Environment:
#   BENCH_SCRATCH  scratch folder (default: a folder in /dev/shm, which keeps
#                  file creation cheap; else in TMPDIR)
#   TRELVIK        the gate binary (default: build/native/trelvik, built here);
#                  trelvik-git is taken from the same folder
#   RUNS_50, RUNS_1000, RUNS_10000 ...  timed runs per command and size
#
# Every peer is first run with a checker that records its arguments (for the
# gate: the files it finds below WORKDIR), and the recorded files must be
# exactly the selected ones; then scripts/bench/interleave.py times all four
# in rounds (each runs once per round, so the load of a shared machine falls
# on all alike), with the checker being `true`. The summary gives the
# medians, min-max, the ratios to the gate and the CPU time.
set -eu

repo=$(cd "$(dirname "$0")/../.." && pwd)
counts=${*:-50 1000 10000}

install_missing() {
  missing=""
  command -v git >/dev/null || missing="$missing git"
  command -v pre-commit >/dev/null || missing="$missing pre-commit"
  command -v node >/dev/null || missing="$missing nodejs"
  command -v npm >/dev/null || missing="$missing npm"
  command -v python3 >/dev/null || missing="$missing python3"
  command -v gnuplot >/dev/null || missing="$missing gnuplot-nox"
  [ -z "$missing" ] && return 0
  echo "installing:$missing"
  apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
}

pick_scratch() {
  if [ -n "${BENCH_SCRATCH:-}" ]; then
    echo "$BENCH_SCRATCH"
  elif [ -d /dev/shm ] && [ -w /dev/shm ]; then
    echo /dev/shm/trelvik-bench-peers
  else
    echo "${TMPDIR:-/tmp}/trelvik-bench-peers"
  fi
}

install_npm_peers() {
  mkdir -p "$scratch/npm"
  if ! cmp -s "$repo/bench/peers/package.json" "$scratch/npm/package.json"; then
    cp "$repo/bench/peers/package.json" "$scratch/npm/package.json"
    (cd "$scratch/npm" && npm install --no-audit --no-fund --loglevel=error)
  fi
  lint_staged="$scratch/npm/node_modules/.bin/lint-staged"
  # The binary itself, as the hook script that "lefthook install" writes
  # runs it, not the node wrapper around it.
  lefthook=$(find "$scratch/npm/node_modules" -path '*/lefthook-linux-*/bin/lefthook' | head -n 1)
}

build_gate() {
  if [ -z "${TRELVIK:-}" ]; then
    (cd "$repo" && cmake --preset native >/dev/null &&
      cmake --build --preset native -j2 --target trelvik trelvik-git >/dev/null)
    TRELVIK="$repo/build/native/trelvik"
  fi
  # trelvik-git finds the gate on PATH.
  gate_dir=$(dirname "$TRELVIK")
  trelvik_git="$gate_dir/trelvik-git"
}

# Two folders that each hold a "bench-checker": one records what it is given,
# the other is `true`.
make_checkers() {
  mkdir -p "$scratch/record-bin" "$scratch/noop-bin"
  cat >"$scratch/record-bin/bench-checker" <<'SCRIPT'
#!/bin/sh
echo call >>"$BENCH_RECORD.calls"
if [ -n "${WORKDIR:-}" ]; then
  (cd "$WORKDIR" && find . -type f | sed 's|^\./||') >>"$BENCH_RECORD"
else
  for argument; do printf '%s\n' "${argument#"$BENCH_COMMIT"/}"; done >>"$BENCH_RECORD"
fi
SCRIPT
  chmod +x "$scratch/record-bin/bench-checker"
  # The program, not the shell's built-in of the same name.
  true_program=$(IFS=:; for folder in $PATH; do
    [ -x "$folder/true" ] && echo "$folder/true" && break
  done)
  ln -sf "$true_program" "$scratch/noop-bin/bench-checker"
}

list_sources() {
  find /usr/include /usr/src /usr/share /usr/lib -type f \( -name '*.c' -o -name '*.h' \) \
    2>/dev/null | LC_ALL=C sort >"$scratch/sources.txt"
}

write_peer_configs() {
  cat >.lintstagedrc.json <<'JSON'
{ "!(**/*test/**)*.c": "bench-checker" }
JSON
  cat >lefthook.yml <<'YAML'
pre-commit:
  jobs:
    - name: check
      run: bench-checker {staged_files}
      glob: "**/*.c"
      exclude:
        - "**/*test/**"
YAML
  cat >.pre-commit-config.yaml <<'YAML'
repos:
  - repo: local
    hooks:
      - id: bench-checker
        name: bench-checker
        entry: bench-checker
        language: system
        files: '\.c$'
        exclude: 'test/'
YAML
  # The gate's own options: -s and -e, as the trigger gives them.
  cat >.trelvik <<'CONFIG'
[check "c"]
	command = bench-checker
	include = **/*.c
	exclude = **/test/**
	stderr-fails = true
CONFIG
}

# A git repository whose only commit holds the peers' configurations, with
# the N files staged on top.
make_commit() {
  count=$1
  commit="$scratch/commit-$count"
  rm -rf "$commit"
  mkdir -p "$commit"
  python3 "$repo/scripts/bench/make_commit.py" "$scratch/sources.txt" "$count" "$commit"
  (
    cd "$commit"
    git init -q
    write_peer_configs
    git add .lintstagedrc.json lefthook.yml .pre-commit-config.yaml .trelvik
    git -c user.name=bench -c user.email=bench@localhost commit -q -m "peer configurations"
    git add -A
  )
}

gate_command() {
  echo "$TRELVIK -s -e **/*.c -x **/test/** -i $scratch/input-$1.txt"
}

# Runs each peer once with the recording checker and compares what it was
# given with the selection.
verify_peers() {
  count=$1
  for peer in trelvik trelvik-git lint-staged lefthook pre-commit; do
    export BENCH_RECORD="$scratch/record-$peer-$count" BENCH_COMMIT="$commit"
    rm -f "$BENCH_RECORD" "$BENCH_RECORD.calls"
    touch "$BENCH_RECORD" "$BENCH_RECORD.calls"
    case $peer in
    trelvik) PATH="$scratch/record-bin:$PATH" "$TRELVIK" -s -e '**/*.c' -x '**/test/**' \
      -i "$scratch/input-$count.txt" >/dev/null ;;
    trelvik-git) PATH="$scratch/record-bin:$gate_dir:$PATH" "$trelvik_git" run >/dev/null 2>&1 ;;
    lint-staged) PATH="$scratch/record-bin:$PATH" "$lint_staged" >/dev/null 2>&1 ;;
    lefthook) PATH="$scratch/record-bin:$PATH" "$lefthook" run pre-commit >/dev/null 2>&1 ;;
    pre-commit) PATH="$scratch/record-bin:$PATH" pre-commit run >/dev/null 2>&1 ;;
    esac
    calls=$(wc -l <"$BENCH_RECORD.calls")
    if LC_ALL=C sort "$BENCH_RECORD" | cmp -s - "$scratch/selected-$count.txt"; then
      echo "  $peer: the checker ran $calls time(s) over exactly the $(wc -l <"$scratch/selected-$count.txt") selected files"
    else
      echo "  $peer: the checker was NOT given the selected files ($calls call(s)):" >&2
      LC_ALL=C sort "$BENCH_RECORD" | diff - "$scratch/selected-$count.txt" | head -n 5 >&2
      exit 1
    fi
  done
  unset BENCH_RECORD BENCH_COMMIT
}

time_peers() {
  count=$1
  runs=$(eval echo "\${RUNS_$count:-}")
  if [ -z "$runs" ]; then
    runs=21
    [ "$count" -ge 1000 ] && runs=11
    [ "$count" -ge 10000 ] && runs=7
  fi
  PATH="$scratch/noop-bin:$gate_dir:$PATH" nice -n 0 python3 "$repo/scripts/bench/interleave.py" \
    "$runs" 1 "$scratch/peers-$count.json" \
    trelvik "$(gate_command "$count")" \
    trelvik-git "$trelvik_git run" \
    lint-staged "$lint_staged" \
    lefthook "$lefthook run pre-commit" \
    pre-commit "pre-commit run" \
    "checker alone" "$scratch/noop-bin/bench-checker"
}

summarise() {
  # shellcheck disable=SC2086 # one argument per size
  python3 - "$scratch" $counts <<'PY'
import json, statistics, sys
scratch, counts = sys.argv[1], [int(c) for c in sys.argv[2:]]
print("| files | command | runs | median ms | min-max ms | median / trelvik | median CPU ms |")
print("|---:|---|---:|---:|---:|---:|---:|")
for count in counts:
    results = json.load(open("%s/peers-%d.json" % (scratch, count)))
    gate = statistics.median(results[0]["wall"])
    for result in results:
        wall = result["wall"]
        median = statistics.median(wall)
        print("| %d | %s | %d | %.1f | %.1f-%.1f | %.1fx | %.1f |" % (
            count, result["name"], len(wall), median * 1e3, min(wall) * 1e3, max(wall) * 1e3,
            median / gate, statistics.median(result["cpu"]) * 1e3))
    wall, cpu = results[0]["wall"], results[0]["cpu"]
    print("| %d | trelvik per staged file | | %.1f us | %.1f-%.1f us | | %.1f us |" % (
        count, gate / count * 1e6, min(wall) / count * 1e6, max(wall) / count * 1e6,
        statistics.median(cpu) / count * 1e6))
PY
}

install_missing
scratch=$(pick_scratch)
mkdir -p "$scratch/temp"
install_npm_peers
build_gate
make_checkers
list_sources
# Everything the runs create goes to the scratch folder in memory.
export TEMP="$scratch/temp" TMPDIR="$scratch/temp" PRE_COMMIT_HOME="$scratch/pre-commit-home"
unset WORKDIR || true
echo "gate: $TRELVIK; lint-staged $("$lint_staged" --version), lefthook $("$lefthook" version)," \
  "$(pre-commit --version)"
for count in $counts; do
  echo "commit of $count files"
  make_commit "$count"
  cd "$commit"
  verify_peers "$count"
  time_peers "$count"
  cd "$repo"
done
summarise
# shellcheck disable=SC2086 # one argument per size
python3 "$repo/scripts/bench/peers_chart.py" "$scratch" "$repo/peers.svg" $counts
echo "chart: peers.svg"
