#!/usr/bin/env bash
# Installs what is needed, builds, and runs the agent's main job: a sound
# server (a private one when none runs), the capture device, a catalog of
# generated, tagged songs, the agent, and a mixtape of three of them and one
# piece the catalog does not know, played through the system output between
# `trovarioctl start` and `trovarioctl stop --wait`; then the delivered files
# with their tags and the playlist.
# Usage: scripts/demo.sh [--my-folders]
#   --my-folders  use your own HOME and XDG folders (your catalog, preferences
#                 and music folder) instead of a demo home under /tmp
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target trovario-agent trovarioctl trovario-catalog

own_folders=""
case ${1:-} in
  "") ;;
  --my-folders) own_folders=1 ;;
  *) echo "usage: scripts/demo.sh [--my-folders]" >&2; exit 2 ;;
esac

session_bin=build/tools
. scripts/agent-session.sh
show_log_on_failure() {
  local status=$?
  if [ "$status" -ne 0 ] && [ -s "$session_dir/agent.log" ]; then
    echo "== the last lines of the agent's log" >&2
    tail -n 20 "$session_dir/agent.log" >&2
  fi
  session_end
}
trap show_log_on_failure EXIT

# Songs of about half a minute: the shortest track the agent keeps is lowered
# from its 30 s default to 20 s. The 2.5 s of digital silence between pieces
# is longer than the 1.3 s of silence (below 0.03) that the definer cuts at.
song_seconds=26
gap_seconds=2.5
catalogued=("11|Harbour Lights|The Tidewaters|Low Water|1"
            "12|Copper Sky|The Tidewaters|Low Water|2"
            "13|Northbound|Mira Calloway|Field Notes|1"
            "14|Glass Orchard|Mira Calloway|Field Notes|4")
unknown_seed=99

server_runs=""
if pactl info >/dev/null 2>&1; then
  server_runs=1
  # The running server still knows us in the demo home: its cookie is kept.
  cookie="${XDG_CONFIG_HOME:-$HOME/.config}/pulse/cookie"
  if [ -f "$cookie" ]; then export PULSE_COOKIE="$cookie"; fi
fi
[ -n "$own_folders" ] || session_home
if [ -z "$server_runs" ]; then
  echo "== no sound server runs: starting a private one with a null output 'speakers'"
  session_private_server pulseaudio
fi
music=$(session_music_folder)
# Preferences of the demo's own; in your folders, only when you have none.
if [ -z "$own_folders" ] || [ ! -e "$XDG_CONFIG_HOME/trovario/org.trovario.TrovarioAgent.plist" ]; then
  mkdir -p "$XDG_CONFIG_HOME/trovario"
  session_preferences ZORAutoDefineMinTrackDurationKey integer 20
fi
echo "== home: $HOME; music folder: $music"

echo "== the catalog: ${#catalogued[@]} generated, tagged songs"
songs="$session_dir/songs"
mkdir -p "$songs/tagged"
for entry in "${catalogued[@]}"; do
  IFS='|' read -r seed title artist album track <<<"$entry"
  session_song "$seed" "$song_seconds" "$songs/$seed.wav"
  ffmpeg -v error -y -i "$songs/$seed.wav" -c:a flac -metadata title="$title" -metadata artist="$artist" \
    -metadata album="$album" -metadata track="$track" "$songs/tagged/$seed.flac"
  echo "   $artist - $title ($album, track $track)"
done
session_song "$unknown_seed" "$song_seconds" "$songs/$unknown_seed.wav"
"$session_bin/trovario-catalog/trovario-catalog" add "$songs/tagged"

echo "== installing the capture device and starting the agent"
session_install_capture_device
session_start_agent "$session_dir/agent.log"
session_ctl status

# Three catalogued songs, then the unknown piece, each followed by silence.
inputs=()
filters=""
for seed in 11 13 12 "$unknown_seed"; do
  inputs+=(-i "$songs/$seed.wav")
  filters+="[$((${#inputs[@]} / 2 - 1))]apad=pad_dur=$gap_seconds[p$seed];"
done
ffmpeg -v error -y "${inputs[@]}" -filter_complex "${filters}[p11][p13][p12][p$unknown_seed]concat=n=4:v=0:a=1" \
  "$session_dir/mixtape.wav"

echo "== capturing while the system plays the mixtape ($(ffprobe -v error -show_entries format=duration \
  -of default=nw=1:nk=1 "$session_dir/mixtape.wav" | cut -d. -f1) s: three catalogued songs and one unknown piece)"
session_ctl start
paplay "$session_dir/mixtape.wav"
echo "== stopping; the agent cuts, identifies, exports and delivers"
session_ctl stop --wait

echo "== delivered files and their tags"
find "$music" -name '*.m4a' | sort | while read -r file; do
  echo "${file#"$music"/}"
  ffprobe -v error -show_entries format_tags=title,artist,album,track -of default=nw=1 "$file" | sed 's/^TAG:/    /'
done
# The unknown piece is exported as "N) Unknown Track.m4a" and filed under
# Unknown Artist/Unknown Album; an export that could not be filed stays put.
unknowns=$(find "$music" \( -path "$music/Unknown Artist/*" -o -name '*) Unknown Track.m4a' \) -name '*.m4a' | wc -l)
filed=$(find "$music" -name '*.m4a' -not -path "$music/Trovario/*" -not -path "$music/Unknown Artist/*" | wc -l)
echo "== the playlist $music/Playlists/Trovario.m3u8"
cat "$music/Playlists/Trovario.m3u8"
[ "$filed" -ge 3 ] || session_fail "only $filed of the three catalogued songs were filed in the music folder"
[ "$unknowns" -ge 1 ] || session_fail "the unknown piece was neither filed under Unknown Artist nor exported"
