#!/usr/bin/env bash
# Processing a 60-minute capture of 15 catalogued songs (cut at the silences,
# identify, export as AAC at 256 kb/s, deliver into the music library) against
# ffmpeg encoding the same 60 minutes to AAC at 256 kb/s in one run: wall and
# CPU time, same machine, same run. The bar: at most 1.2x ffmpeg's wall time.
# The agent runs in a private home on a private PulseAudio server; the
# capture is written straight to the scratch path and processed again by
# `trovarioctl stop --wait` in idle.
# Usage: bench/agent/process_capture.sh BUILD_DIR [SONG_DIR]
#   SONG_DIR keeps the generated songs for the next run (made when missing).
set -euo pipefail
build=${1:?usage: process_capture.sh BUILD_DIR [SONG_DIR]}
cd "$(dirname "$0")/../.."
session_bin="$build/tools"
for tool in trovario-agent/trovario-agent trovarioctl/trovarioctl trovario-catalog/trovario-catalog; do
  [ -x "$session_bin/$tool" ] || { echo "no $session_bin/$tool: build it first" >&2; exit 2; }
done
. scripts/agent-session.sh
trap session_end EXIT

songs=15
slot_seconds=240  # each song and the silence after it: 15 slots make the hour
gap_seconds=2.5
unique_seconds=60 # each song repeats its own first minute, which is made once
song_seconds=$(echo "$slot_seconds - $gap_seconds" | bc)
song_dir=${2:-$session_dir/songs}
mkdir -p "$song_dir"

echo "== making $songs songs of $song_seconds s (kept in $song_dir)"
for seed in $(seq 201 $((200 + songs))); do
  song="$song_dir/$seed.flac"
  [ -s "$song" ] && continue
  session_song "$seed" "$unique_seconds" "$session_dir/minute.wav"
  ffmpeg -v error -y -stream_loop 3 -i "$session_dir/minute.wav" -t "$song_seconds" \
    -c:a flac -metadata title="Song $seed" -metadata artist="Bench Artist $((seed % 3))" \
    -metadata album="Bench Album $((seed % 4))" -metadata track=$((seed - 200)) "$song" ||
    session_fail "ffmpeg could not make $song"
done

session_home
session_private_server pulseaudio
session_preferences ZORAutoDefineMinTrackDurationKey integer 30
music=$(session_music_folder)
scratch=$(session_scratch_path)
"$session_bin/trovario-catalog/trovario-catalog" add "$song_dir" >/dev/null || session_fail "the catalog was not built"

echo "== writing the 60-minute capture to $scratch"
inputs=()
filters=""
chain=""
for seed in $(seq 201 $((200 + songs))); do
  index=$((${#inputs[@]} / 2))
  inputs+=(-i "$song_dir/$seed.flac")
  filters+="[$index]apad=pad_dur=$gap_seconds[p$index];"
  chain+="[p$index]"
done
mkdir -m 0700 -p "$(dirname "$scratch")"
ffmpeg -v error -y "${inputs[@]}" -filter_complex "$filters${chain}concat=n=$songs:v=0:a=1" \
  -c:a pcm_s16be -f caf "$scratch" || session_fail "ffmpeg could not write the capture"
chmod 0600 "$scratch"
minutes=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$scratch")
echo "   $(echo "$minutes / 60" | bc -l | cut -c1-5) minutes"

echo "== ffmpeg: the same capture to AAC at 256 kb/s"
/usr/bin/time -f "%e %U %S" -o "$session_dir/ffmpeg.time" \
  ffmpeg -v error -y -i "$scratch" -c:a aac -b:a 256k "$session_dir/peer.m4a" || session_fail "ffmpeg failed"
read -r peer_wall peer_user peer_system <"$session_dir/ffmpeg.time"
peer_cpu=$(echo "$peer_user + $peer_system" | bc)
echo "   $peer_wall s wall, $peer_cpu s CPU"

echo "== the agent: trovarioctl stop --wait in idle processes the capture"
session_install_capture_device
session_start_agent "$session_dir/agent.log"
cpu_before=$(session_cpu_seconds "$session_agent_pid")
started=$(date +%s.%N)
session_ctl stop --wait >"$session_dir/stop.out" || { tail -n 20 "$session_dir/agent.log" >&2; session_fail "trovarioctl stop --wait failed"; }
ours_wall=$(echo "$(date +%s.%N) - $started" | bc)
ours_cpu=$(echo "$(session_cpu_seconds "$session_agent_pid") - $cpu_before" | bc)

filed=$(find "$music" -name '*.m4a' -not -path "$music/Trovario/*" | wc -l)
listed=$(grep -vc '^#' "$music/Playlists/Trovario.m3u8" 2>/dev/null || true)
printf '\n%-34s %10s %10s\n' "60 min of 16-bit stereo CAF" "wall s" "CPU s"
printf '%-34s %10.2f %10.2f\n' "ffmpeg -c:a aac -b:a 256k" "$peer_wall" "$peer_cpu"
printf '%-34s %10.2f %10.2f\n' "agent: define, identify, export," "$ours_wall" "$ours_cpu"
printf '%-34s\n' "  deliver ($filed files filed)"
ratio=$(echo "$ours_wall / $peer_wall" | bc -l)
printf 'wall time ratio: %.2fx ffmpeg (bar: 1.2x)\n' "$ratio"
[ "$filed" -eq "$songs" ] || session_fail "$filed of $songs songs were delivered (playlist entries: $listed)"
[ "$listed" -eq "$songs" ] || session_fail "the playlist lists $listed of $songs songs"
(($(echo "$ratio <= 1.2" | bc))) || session_fail "slower than the bar of 1.2x ffmpeg's wall time"
