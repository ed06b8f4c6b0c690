#!/usr/bin/env bash
# Installs what is missing (Debian, as root), builds the Linux, sanitizer
# (AddressSanitizer + UndefinedBehaviorSanitizer), ThreadSanitizer and Windows
# builds, and runs every test: unit tests on each build (Windows under Wine;
# under ThreadSanitizer the runner's tests, where the threads are) and
# end-to-end tests of the Linux, sanitizer and Windows binaries.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev mingw-w64
          g++-mingw-w64-x86-64-posix wine64 clang-format
          dpkg-dev file man-db groff-base unzip binutils-mingw-w64-x86-64
          pkg-config libre2-dev libpcre2-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Wine: a persistent server, quiet, with its prefix made once (in HOME).
export HOME="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64
[[ -x $wine ]] || wine=$(command -v wine64 || command -v wine)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wine" wineboot --init >/dev/null 2>&1 || true
"$wineserver" -p >/dev/null 2>&1 || true

for preset in native sanitize tsan windows; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

status=0
summary=()
passed=0
failed=0
for preset in native sanitize tsan windows; do
  echo "== test: $preset"
  log=$(mktemp)
  if ctest --preset "$preset" 2>&1 | tee "$log"; then :; else status=1; fi
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  summary+=("$preset: ${line:-no test ran}")
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  else
    status=1
  fi
  rm -f "$log"
done

# The packages, made with CPack and tried as a user would.
echo "== test: packages"
log=$(mktemp)
if scripts/package_test.sh 2>&1 | tee "$log"; then :; else status=1; fi
line=$(grep -E '^package checks: [0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1 || true)
summary+=("packages: ${line:-no check ran}")
if [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
  passed=$((passed + BASH_REMATCH[1]))
  failed=$((failed + BASH_REMATCH[2]))
else
  status=1
fi
rm -f "$log"

echo "== summary"
printf '%s\n' "${summary[@]}"
echo "total: $passed passed, $failed failed"
exit $status
