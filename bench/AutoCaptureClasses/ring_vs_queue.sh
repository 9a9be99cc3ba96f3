#!/usr/bin/env bash
# The ring against boost::lockfree::spsc_queue in pairs: each round runs the
# two back to back and takes the ratio of their times, so that a shared
# machine's changes of pace (a VM's vCPUs moving between core complexes can
# triple both) fall on both sides of the ratio alike. Prints, per lead,
# every ratio and their median; below 1 the ring is the faster.
# Usage: bench/AutoCaptureClasses/ring_vs_queue.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build=${1:?usage: ring_vs_queue.sh BUILD_DIR [ROUNDS]}
rounds=${2:-15}
bench="$build/bench/AutoCaptureClasses/trov_capture_bench"
[ -x "$bench" ] || { echo "no $bench: build the target trov_capture_bench first" >&2; exit 2; }

for lead in 256 16; do
  ratios=()
  for _ in $(seq "$rounds"); do
    csv=$("$bench" --benchmark_filter="^(RingStoreFetch|SpscQueuePushPop)/$lead/" \
      --benchmark_min_time=0.2 --benchmark_format=csv 2>/dev/null)
    ring=$(grep '^"RingStoreFetch' <<<"$csv" | cut -d, -f3)
    queue=$(grep '^"SpscQueuePushPop' <<<"$csv" | cut -d, -f3)
    # A run that found a wrong block reports an error instead of a time.
    if [ -z "$ring" ] || [ -z "$queue" ]; then
      echo "lead $lead: a run gave no time:" >&2
      echo "$csv" >&2
      exit 1
    fi
    ratios+=("$(awk -v r="$ring" -v q="$queue" 'BEGIN { printf "%.3f", r / q }')")
  done
  sorted=$(printf '%s\n' "${ratios[@]}" | sort -n)
  median=$(sed -n "$(((rounds + 1) / 2))p" <<<"$sorted")
  echo "lead $lead: ring / queue = $(tr '\n' ' ' <<<"$sorted")median $median"
done
