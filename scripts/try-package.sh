#!/usr/bin/env bash
# Installs trovario_<version>_amd64.deb with apt into a throwaway root (this
# system's /usr, /etc and /var under overlays, nothing of the source tree) and
# runs it as a user would: a systemd user manager, `systemctl --user enable
# --now trovario-agent`, `trovarioctl status`, a crash during a capture (the
# default output must come back), and a clean stop. Root only; changes nothing
# outside its own mount namespace.
set -euo pipefail
deb=$(realpath "${1:?usage: try-package.sh trovario_VERSION_amd64.deb}")
[[ $(id -u) -eq 0 ]] || { echo "try-package.sh: needs root (mounts and chroot)" >&2; exit 2; }

if [[ ${2:-} != --inside ]]; then
  exec unshare --mount --pid --fork --mount-proc "$0" "$deb" --inside
fi

root=$(mktemp -d)
trap 'umount -R -l "$root"; rmdir "$root"' EXIT
mount -t tmpfs none "$root"
for dir in usr var etc; do
  mkdir -p "$root/layers/$dir/upper" "$root/layers/$dir/work" "$root/$dir"
  mount -t overlay overlay -o "lowerdir=/$dir,upperdir=$root/layers/$dir/upper,workdir=$root/layers/$dir/work" "$root/$dir"
done
for link in bin lib lib64 sbin; do ln -s "usr/$link" "$root/$link"; done
# /run/systemd/system lets a user manager start without a booted system manager.
mkdir -p "$root/tmp" "$root/proc" "$root/dev" "$root/sys" "$root/root" "$root/run/systemd/system"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --rbind /sys "$root/sys"
cp "$deb" "$root/tmp/"

chroot "$root" /bin/bash -euo pipefail -c '
fail() { echo "FAIL: $*" >&2; exit 1; }
idle() { for _ in $(seq 50); do trovarioctl status 2>/dev/null | grep -q "^state: idle" && return; sleep 0.2; done; false; }
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$1" >/dev/null
export HOME=/root XDG_RUNTIME_DIR=/run/user/0 SYSTEMD_IGNORE_CHROOT=1
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --load=module-native-protocol-unix \
  "--load=module-null-sink sink_name=speakers" 2>/dev/null
/lib/systemd/systemd --user >/tmp/user-manager.log 2>&1 &
sleep 2
systemctl --user enable --now trovario-agent
idle || fail "trovarioctl status"
trovarioctl install-capture-device >/dev/null
trovarioctl start >/dev/null
pid=$(systemctl --user show -p MainPID --value trovario-agent)
kill -SEGV "$pid"
sleep 3
idle || fail "trovarioctl status after the restart"
[[ $(systemctl --user show -p MainPID --value trovario-agent) != "$pid" ]] || fail "not restarted after a crash"
[[ $(pactl get-default-sink) == speakers ]] || fail "default output not given back: $(pactl get-default-sink)"
systemctl --user stop trovario-agent
[[ $(systemctl --user show -p ExecMainStatus --value trovario-agent) == 0 ]] || fail "unclean stop"
echo "installed, enabled, restarted after a crash with the output given back, stopped cleanly"
' - "$(basename "$deb")"
