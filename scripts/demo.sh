#!/usr/bin/env bash
# Installs what is needed, builds, and runs the agent's main job on built-in
# defaults: a sound server (a private one when none runs), the capture device,
# the agent answering trovarioctl, a capture of what the system plays (a
# generated three-song mixtape), and the tracks found in that recording.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target trovario-agent trovarioctl trovario-record trovario-define

bin=build/tools
demo=$(mktemp -d /tmp/trovario-demo.XXXXXX)
agent_pid=""
server_started=""
cleanup() {
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null && wait "$agent_pid" 2>/dev/null
  [ -n "$server_started" ] && pulseaudio --kill 2>/dev/null
  rm -rf "$demo"
}
trap cleanup EXIT

if ! pactl info >/dev/null 2>&1; then
  echo "== no sound server runs: starting a private one with a null output 'speakers'"
  export XDG_RUNTIME_DIR="$demo/runtime"
  mkdir -m 0700 "$XDG_RUNTIME_DIR"
  pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
    --load=module-native-protocol-unix --load="module-null-sink sink_name=speakers" 2>/dev/null
  server_started=1
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink speakers
fi
export XDG_CONFIG_HOME="${XDG_CONFIG_HOME:-$demo/config}"

echo "== installing the capture device"
"$bin/trovarioctl/trovarioctl" install-capture-device

echo "== starting the agent"
"$bin/trovario-agent/trovario-agent" --foreground --verbose 2> "$demo/agent.log" &
agent_pid=$!
for _ in $(seq 50); do "$bin/trovarioctl/trovarioctl" status >/dev/null 2>&1 && break; sleep 0.1; done
"$bin/trovarioctl/trovarioctl" status

echo "== playing a mixtape (three songs, two seconds of silence between them) while recording"
ffmpeg -loglevel error -f lavfi \
  -i "aevalsrc='if(between(mod(t,8),6,8),0,0.5*sin(2*PI*(440+220*floor(t/8))*t))':s=44100:d=22" \
  -ac 2 "$demo/mixtape.wav"
"$bin/trovario-record/trovario-record" 24 --out "$demo/capture.caf" &
record_pid=$!
sleep 1
paplay "$demo/mixtape.wav"
wait "$record_pid"

echo "== tracks found in the recording"
"$bin/trovario-define/trovario-define" "$demo/capture.caf"

echo "== the agent's log (its diagnostics, shown with --verbose)"
"$bin/trovarioctl/trovarioctl" quit
wait "$agent_pid" 2>/dev/null || true
agent_pid=""
cat "$demo/agent.log"
