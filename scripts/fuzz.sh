#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs them.
#   scripts/fuzz.sh NAME SECONDS [OPTION...]
#                                 runs harness NAME for that long over its seeds
#                                 (fuzz/corpus/NAME) and what earlier runs found;
#                                 the inputs it finds go to build-fuzz/corpus/NAME,
#                                 a crash to build-fuzz/crashes/NAME. OPTIONs go to
#                                 libFuzzer (say -runs=10000000 to stop sooner).
#   scripts/fuzz.sh --ci          runs every harness over its seeds once.
#   scripts/fuzz.sh --list        names the harnesses.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build-fuzz
harnesses=$(sed -nE 's/^trov_fuzzer\(([a-z_]+) .*/\1/p' fuzz/CMakeLists.txt)

usage() {
  echo "usage: scripts/fuzz.sh NAME SECONDS [libFuzzer option...] | --ci | --list" >&2
  echo "harnesses: $(echo $harnesses)" >&2
  exit 2
}

build() {
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE= -DTROV_FUZZ=ON \
    -DTROV_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build_dir" -j "${TROV_JOBS:-2}"
}

# No input may make one allocation of more than this.
malloc_limit=-malloc_limit_mb=512
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The harnesses write each input to a file; on a disk, syncing those files
# rather than the code under test sets the pace.
[ -n "${TMPDIR:-}" ] || { [ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm; }

ci() {
  build
  local failed=0
  for name in $harnesses; do
    mkdir -p "$build_dir/crashes/$name"
    if "$build_dir/fuzz/fuzz_$name" -runs=0 "$malloc_limit" -artifact_prefix="$build_dir/crashes/$name/" "fuzz/corpus/$name" \
      >"$build_dir/fuzz-$name.log" 2>&1; then
      echo "fuzz $name: $(ls "fuzz/corpus/$name" | wc -l) seeds passed"
    else
      echo "fuzz $name: FAILED (see $build_dir/fuzz-$name.log)" >&2
      tail -n 30 "$build_dir/fuzz-$name.log" >&2
      failed=1
    fi
  done
  return "$failed"
}

run() {
  local name=$1 seconds=$2
  shift 2
  grep -qx "$name" <<<"$harnesses" || { echo "scripts/fuzz.sh: no harness named '$name'" >&2; usage; }
  [[ $seconds =~ ^[0-9]+$ ]] || { echo "scripts/fuzz.sh: SECONDS must be a whole number, not '$seconds'" >&2; usage; }
  build
  local crashes="$build_dir/crashes/$name" found="$build_dir/corpus/$name"
  mkdir -p "$crashes" "$found"
  "$build_dir/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=25 "$malloc_limit" -print_final_stats=1 \
    -artifact_prefix="$crashes/" "$@" "$found" "fuzz/corpus/$name"
}

case "${1:-}" in
  --ci) [ $# -eq 1 ] || usage; ci ;;
  --list) echo "$harnesses" ;;
  -*|"") usage ;;
  *) [ $# -ge 2 ] || usage; run "$@" ;;
esac
