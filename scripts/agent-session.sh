# Sourced by the demonstration and the agent's benchmarks: a sound server of
# their own, a home of their own, generated songs, and the agent running in
# them. Everything started here is ended by session_end.
#   session_bin       the build's tools folder (set before use)
#   session_dir       a fresh temporary folder, removed by session_end

session_dir=$(mktemp -d /tmp/trovario-session.XXXXXX)
session_agent_pid=""
session_server=""
session_pids=()

session_fail() {
  echo "$*" >&2
  exit 1
}

session_wait_for() {
  local tries=$1
  shift
  for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# A private PulseAudio server, or PipeWire with its PulseAudio interface, with
# a null output "speakers" as the default: what the computer plays goes there.
session_private_server() {
  local kind=${1:-pulseaudio}
  export XDG_RUNTIME_DIR="$session_dir/runtime"
  mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
  unset PULSE_SERVER
  if [ "$kind" = pipewire ]; then
    # At the capture's rate rather than 48 kHz, so that what is played comes
    # back sample for sample; its configuration goes in the session's home.
    local conf="${XDG_CONFIG_HOME:-$session_dir}/pipewire/pipewire.conf.d" bus
    mkdir -p "$conf"
    echo 'context.properties = { default.clock.rate = 44100 }' >"$conf/trovario-rate.conf"
    export XDG_CONFIG_HOME=${XDG_CONFIG_HOME:-$session_dir}
    bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || session_fail "dbus-daemon did not start"
    export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
    session_pids+=("${bus##*$'\n'}")
    for program in pipewire wireplumber pipewire-pulse; do
      "$program" >"$session_dir/$program.log" 2>&1 &
      session_pids+=("$!")
    done
    session_server=pipewire
    session_wait_for 100 pactl info || session_fail "pipewire-pulse did not answer (see $session_dir/*.log)"
    pactl load-module module-null-sink sink_name=speakers rate=44100 >/dev/null
  else
    pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
      --load=module-native-protocol-unix --load="module-null-sink sink_name=speakers" 2>/dev/null ||
      session_fail "pulseaudio did not start"
    session_server=pulseaudio
    session_wait_for 50 pactl info || session_fail "the private pulseaudio server does not answer"
  fi
  session_wait_for 50 pactl set-default-sink speakers || session_fail "no output 'speakers' on the private server"
}

# HOME and the XDG folders under the session's folder: the catalog, the
# preferences, the scratch recording and the music folder all land there.
session_home() {
  export HOME="$session_dir/home"
  export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
  mkdir -p "$XDG_CONFIG_HOME/trovario" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
}

session_music_folder() {
  local dirs="${XDG_CONFIG_HOME:-$HOME/.config}/user-dirs.dirs" line=""
  [ -f "$dirs" ] && line=$(grep -E '^XDG_MUSIC_DIR=' "$dirs" | tail -n 1)
  if [ -n "$line" ]; then
    line=${line#XDG_MUSIC_DIR=\"}
    line=${line%\"}
    echo "${line/\$HOME/$HOME}"
  else
    echo "$HOME/Music"
  fi
}

session_scratch_path() { echo "${XDG_CACHE_HOME:-$HOME/.cache}/trovario/trov_scratch.caf"; }

# The agent's own preferences file, from "KEY TYPE VALUE" triples (TYPE is
# integer, real, true/false or string).
session_preferences() {
  local file="$XDG_CONFIG_HOME/trovario/org.trovario.TrovarioAgent.plist"
  {
    printf '<?xml version="1.0" encoding="UTF-8"?>\n'
    printf '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
    printf '<plist version="1.0">\n<dict>\n'
    while (($# >= 3)); do
      case $2 in
        true | false) printf '  <key>%s</key>\n  <%s/>\n' "$1" "$2" ;;
        *) printf '  <key>%s</key>\n  <%s>%s</%s>\n' "$1" "$2" "$3" "$2" ;;
      esac
      shift 3
    done
    printf '</dict>\n</plist>\n'
  } >"$file"
}

session_ctl() { "$session_bin/trovarioctl/trovarioctl" "$@"; }

# The agent in the foreground of a background job, its log in $1.
session_start_agent() {
  local log=$1
  "$session_bin/trovario-agent/trovario-agent" --foreground --verbose 2>"$log" &
  session_agent_pid=$!
  session_wait_for 100 session_ctl status || session_fail "the agent did not answer; its log: $log"
}

session_install_capture_device() {
  session_ctl install-capture-device >/dev/null || session_fail "the capture device could not be installed"
}

# A generated song: a melody of random notes over a chord per bar, both drawn
# from the seed, so that every seed fingerprints differently; no pause in it is
# quiet enough to be taken for the silence between songs. Further arguments
# go to ffmpeg (tags, codec) before the output path.
session_song() {
  local seed=$1 seconds=$2 out=$3
  shift 3
  local beat="(60/(84+mod($seed*37,60)))"
  local note="floor(24*mod(abs(sin(floor(t/$beat)*12.9898+$seed*78.233))*43758.5453,1))"
  local chord="floor(12*mod(abs(sin(floor(t/(4*$beat))*4.1414+$seed*3.7719))*9631.7,1))"
  local melody="0.25*exp(-3*mod(t,$beat))*(sin(2*PI*220*pow(2,$note/12)*t)+0.4*sin(4*PI*220*pow(2,$note/12)*t))"
  local triad="0.12*(sin(2*PI*110*pow(2,$chord/12)*t)+0.6*sin(2*PI*110*pow(2,($chord+4)/12)*t)+0.5*sin(2*PI*110*pow(2,($chord+7)/12)*t))"
  ffmpeg -v error -y -f lavfi -i "aevalsrc='$melody+$triad':s=44100:d=$seconds" -ac 2 "$@" "$out" ||
    session_fail "ffmpeg could not make the song $out"
}

# Seconds of CPU the process has used, its waited-for children included.
session_cpu_seconds() {
  awk -v tick="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); printf "%.2f\n", ($12 + $13 + $14 + $15) / tick }' "/proc/$1/stat"
}

session_end() {
  if [ -n "$session_agent_pid" ]; then
    session_ctl quit >/dev/null 2>&1 || true
    for _ in $(seq 50); do kill -0 "$session_agent_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$session_agent_pid" 2>/dev/null || true
    wait "$session_agent_pid" 2>/dev/null || true
    session_agent_pid=""
  fi
  [ "$session_server" = pulseaudio ] && pulseaudio --kill 2>/dev/null
  local pid
  for pid in "${session_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  session_server=""
  session_pids=()
  rm -rf "$session_dir"
}
