#!/usr/bin/env bash
# Installs the build into a DESTDIR and runs the installed agent, trovarioctl
# and trovario-define with the source and build folders hidden; checks the
# user unit, the completion, the manual pages and the Debian package.
set -euo pipefail
build=$(realpath "$1") source=$(realpath "$2")
tools=(trovario-agent trovarioctl trovario-catalog trovario-record trovario-define)

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs in its own mount namespace, where the source and build folders are empty.
if [[ ${3:-} == --hidden ]]; then
  root=$4 work=$5
  mount -t tmpfs none "$build"
  mount -t tmpfs none "$source"
  bin=$root/usr/bin
  out=$("$bin/trovario-define" "$work/two-tracks.wav") || fail "trovario-define: $out"
  [[ $(wc -l <<<"$out") -eq 2 ]] || fail "trovario-define found other than 2 tracks: $out"
  "$bin/trovarioctl" install-capture-device >/dev/null || fail "install-capture-device"
  "$bin/trovario-agent" --foreground 2>"$work/agent.err" &
  agent=$!
  for _ in $(seq 50); do [[ -S $XDG_RUNTIME_DIR/org.trovario.TrovarioAgent ]] && break; sleep 0.1; done
  status=$("$bin/trovarioctl" status) || fail "trovarioctl status: $status"
  grep -q "^state: idle" <<<"$status" || fail "status: $status"
  kill -TERM $agent
  wait $agent || fail "the agent did not end cleanly on SIGTERM"
  # Anything it could not find (bundle, editor entry, backend) is a warning.
  [[ ! -s $work/agent.err ]] || fail "the installed agent warned: $(cat "$work/agent.err")"
  exit 0
fi

unshare --map-root-user --mount true 2>/dev/null || { echo "SKIP: no mount namespaces here"; exit 77; }
work=$(mktemp -d)
cleanup() {
  [[ -f $work/run/pulse/pid ]] && kill "$(cat "$work/run/pulse/pid")" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null

installed=(
  usr/bin/trovario-agent usr/bin/trovarioctl usr/bin/trovario-catalog usr/bin/trovario-record usr/bin/trovario-define
  usr/lib/trovario/libtrov_ffmpeg.so usr/lib/systemd/user/trovario-agent.service
  usr/share/trovario/TrovarioAgent.bundle/en.lproj/Localizable.strings usr/share/trovario/Trovario.bundle/trovd_idle.png
  usr/share/applications/org.trovario.Trovario.desktop
)
for tool in "${tools[@]}"; do
  installed+=("usr/share/bash-completion/completions/$tool" "usr/share/man/man1/$tool.1")
done
for path in "${installed[@]}"; do [[ -e $root/$path ]] || fail "not installed: $path"; done

# The installed programs with a sound server of their own.
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config
export XDG_DATA_HOME=$work/home/.local/share XDG_CACHE_HOME=$work/home/.cache XDG_MUSIC_DIR=$work/home/Music
unset PULSE_SERVER TROVARIO_RESOURCE_DIR TROVARIO_AUDIO_BACKEND
mkdir -p "$HOME" -m 0700 "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit --use-pid-file=yes \
  --log-target=file:"$work/pulseaudio.log" --load=module-native-protocol-unix \
  "--load=module-null-sink sink_name=speakers" >/dev/null 2>&1 || fail "pulseaudio: $(cat "$work/pulseaudio.log")"
ffmpeg -v error -f lavfi -i "sine=f=440:d=3" -f lavfi -i "anullsrc=r=44100:cl=stereo:d=2" -f lavfi -i "sine=f=660:d=3" \
  -filter_complex "[0][1][2]concat=n=3:v=0:a=1" -ac 2 -ar 44100 "$work/two-tracks.wav"
unshare --map-root-user --mount bash "$0" "$build" "$source" --hidden "$root" "$work"

unit=$root/usr/lib/systemd/user/trovario-agent.service
grep -qx "ExecStart=/usr/bin/trovario-agent" "$unit" || fail "unit: $(grep ExecStart "$unit")"
if command -v systemd-analyze >/dev/null; then
  # The unit as installed, pointed at the tree it was installed into.
  sed "s|=/usr/|=$root/usr/|" "$unit" >"$work/trovario-agent.service"
  MANPATH=$root/usr/share/man systemd-analyze verify --user "$work/trovario-agent.service" || fail "systemd-analyze verify"
fi

completions() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _trovarioctl; echo "${COMPREPLY[*]}"' \
    - "$root/usr/share/bash-completion/completions/trovarioctl" "$@"
}
[[ $(completions trovarioctl me) == menu ]] || fail "completion of me: $(completions trovarioctl me)"
[[ $(completions trovarioctl menu "") == "show hide click --help" ]] || fail "completion of menu"
[[ $(completions trovarioctl stop --w) == --wait ]] || fail "completion of stop --w"
for tool in "${tools[@]}"; do
  warnings=$(groff -man -ww -z "$root/usr/share/man/man1/$tool.1" 2>&1) && [[ -z $warnings ]] || fail "$tool.1: $warnings"
done

command -v dpkg-deb >/dev/null || { echo "SKIP: the package (no dpkg-deb)"; exit 0; }
cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(echo "$work"/package/trovario_*_amd64.deb)
[[ -f $deb ]] || fail "no trovario_<version>_amd64.deb in: $(ls "$work/package")"
contents=$(dpkg-deb -c "$deb")
for path in "${installed[@]}"; do grep -q " \./$path\$" <<<"$contents" || fail "not in the package: $path"; done
depends=$(dpkg-deb -f "$deb" Depends)
for package in libglib2.0-0 libplist3 libpulse0 libavformat59 libavcodec59 libswresample4 libavutil57 \
  libchromaprint1 libsqlite3-0 libtag1v5 ffmpeg; do
  grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done
echo "install tree and package checked"
