#!/usr/bin/env bash
# The peer of `trovarioctl start` and `trovarioctl stop --wait` for
# trov_start_latency: parecord with small fragments on the capture device's
# monitor, into the scratch path, as a 16-bit CAF.
# Usage: parecord_peer.sh start|stop [--wait]
set -euo pipefail
scratch="${XDG_CACHE_HOME:-$HOME/.cache}/trovario/trov_scratch.caf"
pid_file="$(dirname "$scratch")/parecord.pid"
case ${1:-} in
  start)
    mkdir -m 0700 -p "$(dirname "$scratch")"
    rm -f "$scratch"
    parecord --latency-msec=20 --device=trovario_capture.monitor --file-format=caf --format=s16be --rate=44100 \
      --channels=2 "$scratch" &
    echo $! >"$pid_file"
    ;;
  stop)
    [ -f "$pid_file" ] || { echo "parecord_peer.sh: no recording runs" >&2; exit 1; }
    pid=$(cat "$pid_file")
    kill -INT "$pid"
    while kill -0 "$pid" 2>/dev/null; do sleep 0.02; done
    rm -f "$pid_file"
    ;;
  *) echo "usage: parecord_peer.sh start|stop [--wait]" >&2; exit 2 ;;
esac
