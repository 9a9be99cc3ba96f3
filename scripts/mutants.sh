#!/usr/bin/env bash
# Seeded faults: applies each patch in scripts/mutants/ in turn to a scratch
# copy of a tree, rebuilds, runs the tests of the fault's module and reverts.
# A fault the tests do not notice is reported as SURVIVED: the suite has lost
# (or never had) the power to catch it.
#
# usage: scripts/mutants.sh [--only NAME...] [TREE]
#   NAME  a patch's file name, with or without .patch, or its number ("07")
#   TREE  the repository to test (default: the one holding this script)
# Each patch starts with a header that patch ignores:
#   # module: <folder under tests/ whose tests must catch it>
#   # fault: <one line>
# Without "# module:" the module is the first folder after src/.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tree=$(dirname "$here")
only=()
while (($#)); do
  case $1 in
    --only) shift; while (($#)) && [[ ! -d $1 && $1 != --* ]]; do only+=("$1"); shift; done ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) [[ -d $1 ]] || { echo "mutants: $1 is neither an option nor a folder" >&2; exit 2; }
       tree=$(cd "$1" && pwd); shift ;;
  esac
done

patches=()
for p in "$here"/mutants/*.patch; do
  name=$(basename "$p" .patch)
  if ((${#only[@]})); then
    keep=0
    for o in "${only[@]}"; do [[ $name == "${o%.patch}" || $name == "$o"-* ]] && keep=1; done
    ((keep)) || continue
  fi
  patches+=("$p")
done
((${#patches[@]})) || { echo "mutants: no patch in $here/mutants matches" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/mutants.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM
src=$scratch/src build=$scratch/build log=$scratch/log
mkdir -p "$src"

# Tracked and untracked-but-not-ignored files, as a clean checkout plus work in progress.
git -C "$tree" ls-files -z --cached --others --exclude-standard |
  tar -C "$tree" --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$src" -xf -

# ccache keys on paths under the scratch folder relative to it, so that runs share its cache.
export CCACHE_BASEDIR=$scratch CCACHE_NOHASHDIR=true
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
echo "mutants: building $tree in $scratch"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTROV_BUILD_BENCH=OFF "${launcher[@]}" \
  >"$log" 2>&1 && ninja -C "$build" -j2 >>"$log" 2>&1 ||
  { tail -30 "$log" >&2; echo "mutants: the tree itself does not build" >&2; exit 1; }
# A catch means something only if the module's tests pass without the fault. A test
# that fails is run once more, here and below: tests on a sound server are timing
# sensitive on a loaded machine, and a fault fails them every time.
ctest --test-dir "$build" -j2 --timeout 120 --repeat until-pass:2 >"$log" 2>&1 ||
  { grep -A20 'tests FAILED' "$log" >&2; echo "mutants: the tree's own tests fail" >&2; exit 1; }

# Runs the module's tests; prints "<result>|<first failing test>".
run_tests() {
  if ctest --test-dir "$build/tests/$1" -j2 --timeout 120 --repeat until-pass:2 --no-tests=error >"$log" 2>&1; then
    echo "SURVIVED|"; return
  fi
  local first
  first=$(sed -n '/tests FAILED:/{n;p;q}' "$log" | sed -E 's/^[[:space:]]*[0-9]+ - //')
  case $first in
    "") echo "ctest error|$(tail -1 "$log")" ;;
    *"(Timeout)") echo "caught (timed out)|${first% (Timeout)}" ;;
    *) echo "caught|${first% (*}" ;;
  esac
}

caught=0 survived=0 other=0
printf '%-36s %-19s %-18s %5s  %s\n' FAULT MODULE RESULT SECS "FIRST FAILING TEST"
for p in "${patches[@]}"; do
  name=$(basename "$p" .patch) started=$SECONDS
  module=$(sed -n 's/^# module: *//p' "$p" | head -1)
  [[ -n $module ]] || module=$(sed -nE 's#^\+\+\+ [^/]+/src/([^/]+)/.*#\1#p' "$p" | head -1)
  first=""
  if [[ ! -f $build/tests/$module/CTestTestfile.cmake ]]; then
    result="no tests" first="tests/$module is not in the build"
  elif ! patch -d "$src" -p1 --fuzz=2 --dry-run -s <"$p" >/dev/null 2>&1; then
    result="does not apply"
  elif ! patch -d "$src" -p1 --fuzz=2 -s --no-backup-if-mismatch <"$p" >/dev/null; then
    echo "mutants: $name applied only in part; stopping" >&2; exit 1
  else
    # Only what the module's tests need: the rest is rebuilt when a later fault needs it.
    if ninja -C "$build" -j2 "tests/$module/all" >"$log" 2>&1; then
      IFS='|' read -r result first < <(run_tests "$module")
    else
      result="build broke" first=$(grep -m1 'error:' "$log" | cut -c1-80 || true)
    fi
    patch -d "$src" -p1 -R --fuzz=2 -s --no-backup-if-mismatch <"$p" >/dev/null ||
      { echo "mutants: cannot revert $name; stopping" >&2; exit 1; }
  fi
  case $result in caught*) ((++caught)) ;; SURVIVED) ((++survived)) ;; *) ((++other)) ;; esac
  printf '%-36s %-19s %-18s %5d  %s\n' "$name" "$module" "$result" $((SECONDS - started)) "$first"
done
echo "$caught caught, $survived survived$( ((other)) && echo ", $other did not apply, broke the build or found no tests")"
((survived == 0 && other == 0))
