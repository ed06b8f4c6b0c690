#!/usr/bin/env bash
# Installs what is missing (Debian, as root), builds the Linux, sanitizer
# (AddressSanitizer + UndefinedBehaviorSanitizer), ThreadSanitizer and Windows
# builds, and runs every test: unit tests on each build (Windows under Wine;
# under ThreadSanitizer the unit tests labelled "threads") and
# end-to-end tests of the Linux, sanitizer and Windows binaries.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/setup.sh
need_packages cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev mingw-w64 \
  g++-mingw-w64-x86-64-posix wine64 clang-format dpkg-dev file man-db groff-base unzip \
  binutils-mingw-w64-x86-64 lintian pkg-config libre2-dev libpcre2-dev clang libclang-rt-14-dev git \
  shellcheck flake8 cppcheck yamllint
prepare_wine

# Every build treats a warning as an error here.
for preset in native sanitize tsan windows; do
  echo "== build: $preset"
  cmake --preset "$preset" -DTRELVIK_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
done

status=0
summary=()
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Runs one step (its output shown and kept in $log); a failing step fails
# the whole command.
step() {
  echo "== test: $1"
  shift
  if "$@" 2>&1 | tee "$log"; then :; else status=1; fi
}
# Adds a step's counts to the totals; no counts means the step never ran.
tally() { # label passed failed
  if [[ -z $2 ]]; then
    summary+=("$1: nothing ran")
    status=1
    return
  fi
  summary+=("$1: $2 passed, $3 failed")
  passed=$((passed + $2))
  failed=$((failed + $3))
}

for preset in native sanitize tsan windows; do
  step "$preset" ctest --preset "$preset"
  line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]] || true
  tally "$preset" "${BASH_REMATCH[2]:+$((BASH_REMATCH[2] - BASH_REMATCH[1]))}" "${BASH_REMATCH[1]:-}"
done

# The sources as clang-format writes them (.clang-format).
step format sh -c 'find src tests fuzz bench examples \( -name "*.cc" -o -name "*.h" \) \
  -not -path "*/corpus/*" | xargs clang-format --dry-run -Werror && echo "format: clean"'
if grep -q '^format: clean$' "$log"; then tally format 1 0; else tally format 0 1; fi

# The packages, made with CPack and tried as a user would.
step packages scripts/package_test.sh
line=$(grep -E '^package checks: [0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1 || true)
[[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]] || true
tally packages "${BASH_REMATCH[1]:-}" "${BASH_REMATCH[2]:-}"

# Every fuzz target for a short while; a target passes without findings.
step fuzz scripts/fuzz.sh "${TRELVIK_FUZZ_SECONDS:-15}"
clean=$(grep -cE '^[a-z]+: [0-9]+ executions, 0 findings' "$log" || true)
found=$(grep -E '^[a-z]+: [0-9]+ executions, [0-9]+ findings' "$log" | grep -cv ', 0 findings' || true)
tally fuzz "$( ((clean + found)) && echo "$clean")" "$found"

echo "== summary"
printf '%s\n' "${summary[@]}"
echo "total: $passed passed, $failed failed"
exit $status
