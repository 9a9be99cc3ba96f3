#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the plain build, then
# AddressSanitizer+UndefinedBehaviorSanitizer, then the concurrency tests under
# ThreadSanitizer, then every fuzz harness over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

jobs=$(nproc)
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run() {
  local name=$1 dir=$2; shift 2
  echo "== $name tests"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" | tee "$logs/$name"
}

build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run plain build

build build-asan -DCMAKE_BUILD_TYPE=Debug -DTROV_SANITIZE=address -DTROV_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run asan build-asan

build build-tsan -DCMAKE_BUILD_TYPE=Debug -DTROV_SANITIZE=thread -DTROV_BUILD_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run tsan build-tsan -L concurrency

echo "== fuzz harnesses over their seeds"
fuzz_failed=0
TROV_JOBS=$jobs scripts/fuzz.sh --ci || fuzz_failed=1

passed=0
failed=0
for log in "$logs"/*; do
  read -r p f < <(sed -nE 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\2 \1/p' "$log" | awk '{print $1-$2, $2}')
  passed=$((passed + p))
  failed=$((failed + f))
done
echo "all builds: $passed passed, $failed failed"
[ "$fuzz_failed" -eq 0 ] || echo "a fuzz harness failed on its seeds (above)"
[ "$failed" -eq 0 ] && [ "$fuzz_failed" -eq 0 ]
