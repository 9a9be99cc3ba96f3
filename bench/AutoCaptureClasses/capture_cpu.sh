#!/usr/bin/env bash
# CPU time of a capture of SECONDS (default 60) with play-through and the CAF
# writer (trovario-record), against parecord recording the same monitor into
# a file over the same time, all on a private PulseAudio server while a tone
# plays into the capture device. parecord runs twice side by side: with its
# defaults (the server then sends it about two fragments a second) and with
# the fragment size the recorder asks for (4096 bytes: one block, so that a
# recording starts and ends within a block of the calls).
# Usage: bench/AutoCaptureClasses/capture_cpu.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=${1:?usage: capture_cpu.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
record="$build/tools/trovario-record/trovario-record"
[ -x "$record" ] || { echo "no $record: build the target trovario-record first" >&2; exit 2; }

dir=$(mktemp -d /tmp/trov-bench-XXXXXX)
chmod 700 "$dir"
mkdir -p "$dir/home"
export XDG_RUNTIME_DIR=$dir PULSE_SERVER=unix:$dir/pulse/native XDG_STATE_HOME=$dir/state
cleanup() {
  [ -n "${player:-}" ] && kill "$player" 2>/dev/null || true
  HOME=$dir/home pulseaudio --kill 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

HOME=$dir/home pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
  --log-target=file:"$dir/pulseaudio.log" \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=speakers"
pactl load-module module-null-sink sink_name=trovario_capture \
  "sink_properties=\"device.description='Trovario Capture Support'\"" >/dev/null

ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=$((seconds + 10))" -ac 2 "$dir/tone.wav"
paplay -d trovario_capture "$dir/tone.wav" &
player=$!

cpu_ms() {  # runs a command, its CPU time (task-clock) into the file $1
  perf stat -x, -e task-clock -o "$1" -- "${@:2}" >/dev/null 2>&1 || true
}

cpu_ms "$dir/record.stat" "$record" "$seconds" --out "$dir/capture.caf" &
ours=$!
cpu_ms "$dir/parecord.stat" timeout -s INT "$seconds" parecord -d trovario_capture.monitor "$dir/parecord.wav" &
peer=$!
cpu_ms "$dir/parecord-4096.stat" timeout -s INT "$seconds" parecord --latency=4096 -d trovario_capture.monitor \
  "$dir/parecord-4096.wav" &
peer4096=$!
wait "$ours" "$peer" "$peer4096"

report() {  # name, stat file
  local ms
  ms=$(awk -F, '/task-clock/ {printf "%.0f", $1}' "$2")
  echo "$1: ${ms} ms CPU ($(awk -v m="$ms" -v s="$seconds" 'BEGIN {printf "%.2f", m / (s * 10)}')% of one core)"
}
ours_ms=$(awk -F, '/task-clock/ {printf "%.0f", $1}' "$dir/record.stat")
report "trovario-record, ${seconds} s with play-through and CAF writer" "$dir/record.stat"
report "parecord, defaults" "$dir/parecord.stat"
report "parecord --latency=4096" "$dir/parecord-4096.stat"
for peer in parecord parecord-4096; do
  echo "ratio to $peer: $(awk -F, -v a="$ours_ms" '/task-clock/ {printf "%.2f", a / $1}' "$dir/$peer.stat")"
done
