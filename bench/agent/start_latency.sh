#!/usr/bin/env bash
# The latency from `trovarioctl start` to the first captured frame, RUNS times
# on a private PulseAudio server and on a private PipeWire one: a chirp plays
# on the default output (as music does; the capture moves it to the capture
# device) or into the capture device itself, and each capture's first frame is
# placed in it (see StartLatency.cpp); the same for parecord. Prints
# every run, the median and the max; the bar is under 100 ms. Fails when the
# agent misses it, or a run could not be measured.
# Usage: bench/agent/start_latency.sh BUILD_DIR [RUNS] [pulseaudio|pipewire|both]
set -euo pipefail
build=${1:?usage: start_latency.sh BUILD_DIR [RUNS] [pulseaudio|pipewire|both]}
runs=${2:-10}
servers=${3:-both}
[ "$servers" = both ] && servers="pulseaudio pipewire"
cd "$(dirname "$0")/../.."
session_bin="$build/tools"
measure="$build/bench/agent/trov_start_latency"
for tool in "$session_bin/trovario-agent/trovario-agent" "$session_bin/trovarioctl/trovarioctl" "$measure"; do
  [ -x "$tool" ] || { echo "no $tool: build it first (trov_start_latency needs -DTROV_BUILD_BENCH=ON)" >&2; exit 2; }
done

failed=0
for server in $servers; do
  (
    . scripts/agent-session.sh
    trap session_end EXIT
    session_home
    session_private_server "$server"
    echo "== $(pactl info | sed -n 's/^Server Name: //p'): $runs captures"
    session_install_capture_device
    session_start_agent "$session_dir/agent.log"
    echo "-- the agent, the chirp playing on the default output, which the capture takes over"
    status=0
    "$measure" "$session_bin/trovarioctl/trovarioctl" "$runs" || status=$?
    [ "$status" -eq 3 ] && tail -n 20 "$session_dir/agent.log" >&2
    echo "-- the agent, the chirp already playing into the capture device"
    "$measure" "$session_bin/trovarioctl/trovarioctl" "$runs" trovario_capture || true
    echo "-- the peer: parecord --latency-msec=20 on the capture device's monitor, the chirp playing into it"
    "$measure" bench/agent/parecord_peer.sh "$runs" trovario_capture || true
    exit "$status"
  ) || failed=1
done
exit "$failed"
