#!/bin/sh
# A push of N changed files through `git push`, judged on the server by
# trelvik-git's pre-receive hook (one check over every file, a checker that
# does nothing), next to the same push to a server without the hook. Each
# run pushes to a new bare repository, so every push carries its objects.
# The files are real C sources and headers of this machine
# (scripts/bench/make_commit.py), on top of one initial commit.
#
# usage: scripts/bench/push.sh [COUNT...]        (default: 1000)
#
# Environment:
#   BENCH_SCRATCH  scratch folder (default: a folder in /dev/shm, else TMPDIR);
#                  TEMP of the hooks lies inside it
#   TRELVIK        the gate (default: build/native/trelvik, built here);
#                  trelvik-git is taken from the same folder
#   RUNS           timed runs of each push (default 11)
set -eu

repo=$(cd "$(dirname "$0")/../.." && pwd)
counts=${*:-1000}
runs=${RUNS:-11}
if [ -n "${BENCH_SCRATCH:-}" ]; then
  scratch=$BENCH_SCRATCH
elif [ -d /dev/shm ] && [ -w /dev/shm ]; then
  scratch=/dev/shm/trelvik-bench-push
else
  scratch=${TMPDIR:-/tmp}/trelvik-bench-push
fi
if [ -z "${TRELVIK:-}" ]; then
  (cd "$repo" && cmake --preset native >/dev/null &&
    cmake --build --preset native -j2 --target trelvik trelvik-git >/dev/null)
  TRELVIK="$repo/build/native/trelvik"
fi
gate_dir=$(cd "$(dirname "$TRELVIK")" && pwd)

rm -rf "$scratch"
mkdir -p "$scratch/bin" "$scratch/temp"
true_program=$(command -v true)
[ "$true_program" = true ] && true_program=/bin/true
ln -s "$true_program" "$scratch/bin/bench-checker"
export PATH="$scratch/bin:$gate_dir:$PATH" TEMP="$scratch/temp" HOME="$scratch"
export GIT_CONFIG_NOSYSTEM=1 GIT_AUTHOR_NAME=bench GIT_AUTHOR_EMAIL=bench@example.org
export GIT_COMMITTER_NAME=bench GIT_COMMITTER_EMAIL=bench@example.org
find /usr/include /usr/src /usr/share /usr/lib -type f \( -name '*.c' -o -name '*.h' \) \
  2>/dev/null | LC_ALL=C sort >"$scratch/sources.txt"

# Milliseconds taken by the command given, as a floating-point number.
elapsed_ms() {
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  end=$(date +%s%N)
  echo $(((end - start) / 1000))e-3
}

# A new bare repository SERVER, with the hook when HOOK is 1.
new_server() {
  rm -rf "$1"
  git init -q --bare "$1"
  if [ "$2" = 1 ]; then (cd "$1" && trelvik-git install --hook pre-receive >/dev/null); fi
}

echo "| files | push | runs | median ms | min-max ms |"
echo "|---:|---|---:|---:|---:|"
for count in $counts; do
  client="$scratch/client-$count"
  rm -rf "$client"
  mkdir -p "$client"
  python3 "$repo/scripts/bench/make_commit.py" "$scratch/sources.txt" "$count" "$client/files" >/dev/null
  (cd "$client" && git init -q && printf '[check "all"]\n\tcommand = bench-checker {files}\n' >.trelvik &&
    git add .trelvik && git commit -qm init && mv files/* . && rmdir files && git add -A &&
    git commit -qm files)
  for hook in 0 1; do
    times=""
    i=0
    while [ $i -lt "$runs" ]; do
      new_server "$scratch/server.git" $hook
      times="$times $(elapsed_ms git -C "$client" push -q "$scratch/server.git" HEAD:refs/heads/main)"
      i=$((i + 1))
    done
    [ -z "$(ls -A "$scratch/temp")" ] || { echo "left in TEMP: $(ls -A "$scratch/temp")" >&2; exit 1; }
    label="without the hook"
    [ $hook = 1 ] && label="trelvik-git pre-receive"
    echo "$times" | tr ' ' '\n' | sed '/^$/d' | sort -g | awk -v c="$count" -v l="$label" '
      { v[NR] = $1 } END { printf "| %d | %s | %d | %.1f | %.1f-%.1f |\n", c, l, NR, v[int((NR + 1) / 2)], v[1], v[NR] }'
  done
done
rm -rf "$scratch"
