#!/usr/bin/env bash
# Resident memory and CPU of an idle trovario-agent over one minute, beside
# the idle sound server it polls (the named peer, measured in the same window).
# A private PulseAudio server with the capture device loaded makes every
# 3-second availability check find the device, as on a set-up desktop; the
# status item is shown on a private session bus, as the editor asks for it.
# Bars: agent RSS < 15 MB, agent CPU < 0.5% of a core.
#
# usage: bench/messaging/idle_agent.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=$(realpath "${1:-build-msg-rel}")
seconds=${2:-60}
agent=$build/tools/trovario-agent/trovario-agent
ctl=$build/tools/trovarioctl/trovarioctl

runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime XDG_CONFIG_HOME=$runtime/config
unset PULSE_SERVER
agent_pid=""
bus_pid=""
cleanup() {
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null || true
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null || true
  pulseaudio --kill 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT

pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=speakers" 2>/dev/null
"$ctl" install-capture-device >/dev/null
pulse_pid=$(cat "$runtime/pulse/pid")
{ read -r DBUS_SESSION_BUS_ADDRESS; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS

"$agent" 2>/dev/null &
agent_pid=$!
sleep 1
"$ctl" menu show
sleep 3   # start-up and the first checks done

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
# Proportional set (shared library pages divided among their users) and the
# process's own private pages, for reading the RSS.
memory_detail() {
  awk '/^Pss:/ {pss = $2} /^Private_Dirty:/ {own = $2} END {printf "PSS %.1f MB, private %.1f MB", pss / 1024, own / 1024}' \
    "/proc/$1/smaps_rollup"
}
a0=$(ticks "$agent_pid"); p0=$(ticks "$pulse_pid")
sleep "$seconds"
a1=$(ticks "$agent_pid"); p1=$(ticks "$pulse_pid")
hz=$(getconf CLK_TCK)
state=$("$ctl" status | head -1)

awk -v a=$((a1 - a0)) -v p=$((p1 - p0)) -v hz="$hz" -v s="$seconds" \
    -v arss="$(rss_kb "$agent_pid")" -v prss="$(rss_kb "$pulse_pid")" -v state="$state" \
    -v adetail="$(memory_detail "$agent_pid")" -v pdetail="$(memory_detail "$pulse_pid")" 'BEGIN {
  acpu = 100 * a / hz / s; pcpu = 100 * p / hz / s
  printf "idle for %d s (agent %s)\n", s, state
  printf "%-24s RSS %6.1f MB (%s)   CPU %6.3f%% of a core\n", "trovario-agent", arss / 1024, adetail, acpu
  printf "%-24s RSS %6.1f MB (%s)   CPU %6.3f%% of a core\n", "pulseaudio (idle peer)", prss / 1024, pdetail, pcpu
  ok = (arss / 1024 < 15 && acpu < 0.5)
  printf "bars: RSS < 15 MB and CPU < 0.5%%: %s\n", ok ? "PASS" : "FAIL"
  exit ok ? 0 : 1
}'
