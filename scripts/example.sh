#!/usr/bin/env bash
# Builds the gate and the example checker, then runs the gate on the bundled
# example commit the way a version-control trigger would: strip the staging
# path from the report (-s), treat anything on standard error as a failure
# (-e), check Java and C sources, leave out tests.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/setup.sh
need_packages cmake ninja-build g++

cmake -S . -B build/example -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRELVIK_TESTS=OFF >/dev/null
cmake --build build/example --target trelvik trelvik-stylecheck >/dev/null

echo "\$ trelvik -s -e '**/*.java' '**/*.c' '**/*.h' -x '**/test/**' -i examples/commit.txt"
status=0
PATH="$PWD/build/example:$PATH" build/example/trelvik -s -e '**/*.java' '**/*.c' '**/*.h' \
  -x '**/test/**' -i examples/commit.txt || status=$?
echo "exit code: $status"
