#!/usr/bin/env python3
"""A crowd of peers on the agent's port: IDLE connections that never speak,
then THREADS clients each sending REQUESTS telemetry requests (each on its own
connection, 0.5 s each way, as trovarioctl does). Prints how many requests
were answered, and the slowest answer.

usage: bench/messaging/crowd.py AGENT_BINARY [THREADS] [REQUESTS] [IDLE]
"""
import os, plistlib, socket, subprocess, sys, tempfile, threading, time

defaults = [120, 100, 300]
agent = sys.argv[1]
threads, requests, idle = [int(a) for a in sys.argv[2:5]] + defaults[len(sys.argv) - 2:]
runtime = tempfile.mkdtemp()
env = dict(os.environ, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=runtime + "/config", PULSE_SERVER="unix:/nonexistent")
path = runtime + "/org.trovario.TrovarioAgent"
process = subprocess.Popen([agent], env=env, stderr=subprocess.DEVNULL)
request = plistlib.dumps({"msgID": 0x72546C6D})

def connect():
    peer = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    peer.settimeout(0.5)
    peer.connect(path)
    return peer

while not os.path.exists(path):
    time.sleep(0.05)
time.sleep(0.5)
crowd = [connect() for _ in range(idle)]
answered, slowest, lock = 0, 0.0, threading.Lock()

def client():
    global answered, slowest
    for _ in range(requests):
        start = time.monotonic()
        try:
            with connect() as peer:
                peer.send(request)
                ok = len(peer.recv(65536)) > 0
        except OSError:
            ok = False
        with lock:
            answered += ok
            if ok:
                slowest = max(slowest, time.monotonic() - start)

workers = [threading.Thread(target=client) for _ in range(threads)]
for w in workers: w.start()
for w in workers: w.join()
process.terminate()
process.wait()
total = threads * requests
print(f"{idle} idle peers, {threads} clients x {requests} requests: {answered} of {total} answered "
      f"({100.0 * answered / total:.1f}%), slowest answer {slowest * 1000:.0f} ms")
