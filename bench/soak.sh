#!/usr/bin/env bash
# A long run of the agent as a user would drive it: captures started and
# stopped every few seconds with music playing, files processed, telemetry
# polled, bad messages mixed in. Records the agent's file descriptors,
# threads and resident memory and the scratch folder's size after the first
# round and at the end, and the resident memory every ten rounds, so that a
# plateau can be told from a leak; growth is what it looks for. The delivered files
# pile up in the music library by design and are reported apart.
#
# usage: bench/soak.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=$(realpath "${1:-build}")
seconds=${2:-3600}
bin=$build/tools
ctl=$bin/trovarioctl/trovarioctl

home=$(mktemp -d /tmp/trovario-soak.XXXXXX)
export HOME=$home/home XDG_RUNTIME_DIR=$home/runtime XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
       XDG_CACHE_HOME=$home/cache XDG_DATA_DIRS=$home/system
mkdir -p "$HOME" "$XDG_DATA_DIRS"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
unset PULSE_SERVER DBUS_SESSION_BUS_ADDRESS
agent_pid=""
cleanup() {
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null && wait "$agent_pid" 2>/dev/null
  pulseaudio --kill 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT

pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=speakers" 2>/dev/null
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink speakers
"$ctl" install-capture-device >/dev/null

# Two catalogued songs and a short mixtape of them with silence between.
song() {
  ffmpeg -loglevel error -f lavfi -i "aevalsrc='0.4*sin(2*PI*$1*t*(1+0.3*sin(2*PI*$2*t)))':s=44100:d=8" -ac 2 \
    -metadata title="Soak $1" -metadata artist="Soak" -metadata album="Soak" "$home/$1.flac"
}
song 330 0.7; song 520 1.9
ffmpeg -loglevel error -i "$home/330.flac" -i "$home/520.flac" -f lavfi -t 2 -i anullsrc=r=44100:cl=stereo \
  -filter_complex "[0][2][1]concat=n=3:v=0:a=1" "$home/mixtape.wav"
"$bin/trovario-catalog/trovario-catalog" add "$home/330.flac" "$home/520.flac" >/dev/null
mkdir -p "$XDG_CONFIG_HOME/trovario"
cat > "$XDG_CONFIG_HOME/trovario/org.trovario.TrovarioAgent.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>ZORAutoDefineMinTrackDurationKey</key><integer>3</integer></dict></plist>
PLIST

"$bin/trovario-agent/trovario-agent" 2>"$home/agent.err" &
agent_pid=$!
for _ in $(seq 50); do "$ctl" status >/dev/null 2>&1 && break; sleep 0.1; done

round() {
  "$ctl" start >/dev/null
  paplay "$home/mixtape.wav"
  "$ctl" status >/dev/null
  "$ctl" stop --wait >/dev/null || failures=$((failures + 1))
  "$ctl" process "$home/mixtape.wav" --wait >/dev/null || failures=$((failures + 1))
  for bad in "send abcd" "send pFil path=int:5" "send sScT SilenceThreshold=string:x" "send sRtL timeout=int:-4" \
             "send sMUv visible=string:yes" "send 0"; do
    $ctl $bad >/dev/null 2>&1 || true
  done
  "$ctl" time-limit 0 >/dev/null
  rounds=$((rounds + 1))
}
measure() {
  printf '%s fds %s threads %s rss_kb %s scratch_bytes %s library_files %s\n' "$1" \
    "$(ls "/proc/$agent_pid/fd" | wc -l)" "$(awk '/^Threads:/ {print $2}' "/proc/$agent_pid/status")" \
    "$(awk '/^VmRSS:/ {print $2}' "/proc/$agent_pid/status")" "$(du -sb "$XDG_CACHE_HOME/trovario" | cut -f1)" \
    "$(find "$HOME/Music" -type f -name '*.m4a' | wc -l)"
}

rounds=0 failures=0
round
measure start
end=$((SECONDS + seconds))
rss_trail=""
while [ "$SECONDS" -lt "$end" ]; do
  round
  [ $((rounds % 10)) -eq 0 ] && rss_trail+=" $(awk '/^VmRSS:/ {print $2}' "/proc/$agent_pid/status")"
done
measure end
echo "rss_kb every ten rounds:$rss_trail"
echo "rounds $rounds, commands that failed $failures, agent warnings $(grep -c . "$home/agent.err" || true)"
kill -0 "$agent_pid" && echo "the agent is still running"
