#!/usr/bin/env python3
# Time from SIGKILL of a running trovario-record to the default output being
# back, with an agent running. Each run starts trovario-record on a private
# PulseAudio server, kills it with SIGKILL mid-capture and times the kill to the
# server's next change (the default output given back).
# Usage: bench/AutoCaptureClasses/output_back_after_kill.py BUILD_DIR [RUNS]
import os, shutil, subprocess, sys, time, tempfile, signal, statistics, threading, queue
build = sys.argv[1]; runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
d = tempfile.mkdtemp(prefix="lockmeasure-")
os.makedirs(d + "/home")
subprocess.run(f"env -i HOME={d}/home XDG_RUNTIME_DIR={d} PATH=\"$PATH\" pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit --use-pid-file=yes --log-target=file:{d}/pa.log --load=module-native-protocol-unix '--load=module-null-sink sink_name=speakers'", shell=True, check=True)
env = dict(os.environ, PULSE_SERVER=f"unix:{d}/pulse/native", XDG_RUNTIME_DIR=d, XDG_STATE_HOME=d+"/state", XDG_CONFIG_HOME=d+"/config", XDG_CACHE_HOME=d+"/cache")
pactl = lambda *a: subprocess.run(["pactl", *a], env=env, capture_output=True, text=True).stdout.strip()
pactl("load-module", "module-null-sink", "sink_name=trovario_capture", "sink_properties=\"device.description='Trovario Capture Support'\"")
agentlog = open(d + "/agent.err", "w")
agent = subprocess.Popen([build + "/tools/trovario-agent/trovario-agent", "--foreground", "--verbose"], env=env, stderr=agentlog)
while "ready for commands" not in open(d + "/agent.err").read(): time.sleep(0.01)
events = queue.Queue()
sub = subprocess.Popen(["pactl", "subscribe"], env=env, stdout=subprocess.PIPE, text=True)
def reader():
    for line in sub.stdout:
        if "'change' on server" in line: events.put(time.monotonic())
threading.Thread(target=reader, daemon=True).start()
times = []
try:
    for i in range(runs):
        rec = subprocess.Popen([build + "/tools/trovario-record/trovario-record", "600", "--out", d + "/x.caf"], env=env, stdout=subprocess.DEVNULL, stderr=open(d + "/rec.err", "a"))
        deadline = time.monotonic() + 5
        while pactl("get-default-sink") != "trovario_capture":
            assert time.monotonic() < deadline, open(d + "/rec.err").read() + open(d + "/agent.err").read()
            time.sleep(0.01)
        time.sleep(0.3)
        while not events.empty(): events.get()
        t0 = time.monotonic(); os.kill(rec.pid, signal.SIGKILL)
        rec.wait()
        t1 = events.get(timeout=10)
        back = pactl("get-default-sink")
        assert back == "speakers", back
        assert not os.path.exists(d + "/state/trovario/previous-default-output")
        times.append((t1 - t0) * 1000)
        print(f"run {i+1}: {times[-1]:.1f} ms", flush=True)
finally:
    agent.terminate(); agent.wait(); sub.kill()
    os.kill(int(open(d + "/pulse/pid").read()), signal.SIGTERM)
    shutil.rmtree(d, ignore_errors=True)
print(f"runs {len(times)} median {statistics.median(times):.1f} ms worst {max(times):.1f} ms best {min(times):.1f} ms")
