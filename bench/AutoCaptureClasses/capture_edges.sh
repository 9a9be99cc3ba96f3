#!/usr/bin/env bash
# Where 5-second recordings start and end against the calls to record and
# stop, on a loaded machine: two busy loops run beside the recorder's chirp
# test, which places each recording within the chirp it captured to the frame.
# A positive start means audio played after `record` is missing; a negative
# end, audio played before `stop`. The allowance is 50 ms at either end.
# Usage: bench/AutoCaptureClasses/capture_edges.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?usage: capture_edges.sh BUILD_DIR [RUNS]}
runs=${2:-20}
tests="$build/tests/AutoCaptureClasses/recorder/trov_recorder_tests"
[ -x "$tests" ] || { echo "no $tests: build the target trov_recorder_tests first" >&2; exit 2; }

busy() { while :; do :; done; }
busy & first=$!
busy & second=$!
trap 'kill $first $second 2>/dev/null || true' EXIT

"$tests" --gtest_filter='Lengths/ChirpRecording.*/1' --gtest_repeat="$runs" 2>&1 |
  grep -E "^recording of|FAILED  \]" |
  awk '{ print }
       /^recording of/ { start = $6 + 0; end = $9 + 0; n++
                         if (n == 1 || start > late) late = start; if (n == 1 || end < early) early = end
                         if (start > 50 || end < -50) beyond++ }
       END { printf "%d recordings: latest start %+.1f ms, earliest end %+.1f ms (%.0f and %.0f frames); " \
                    "beyond the 50 ms allowance: %d\n", n, late, early, late * 44.1, early * 44.1, beyond }'
