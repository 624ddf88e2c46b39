"""twincam-serve's RTSP under load: both cameras at 1280x720 and 30 fps.
Measures the server's CPU (cores) with no client, with one on each camera,
and with eight (four ffmpeg clients over TCP on each camera), and while the eight play: the
slowest client's frames per second, the frames each camera's reader missed,
and the median and p99 time from a frame's read to its RTP packets leaving.
Prints: slowest_fps missed0 missed1 sent_median_ms sent_p99_ms cpu0 cpu1 cpu8
Usage: rtsp_clients.py SERVE_TOOL SECONDS"""
import json
import os
import re
import subprocess
import sys
import threading
import time
import urllib.request

from served import cpu_seconds, start

tool, seconds = sys.argv[1], float(sys.argv[2])
proc, ports = start(tool, ["--rtsp", "127.0.0.1:0", "--size", "1280x720", "--fps", "30"])
http, rtsp = ports["http"], ports["rtsp"]


def cores(span):
    before = cpu_seconds(proc)
    time.sleep(span)
    return (cpu_seconds(proc) - before) / span


def stats():
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open("http://127.0.0.1:%d/stats" % http) as r:
        return json.load(r)["cameras"]


class Player:
    """An ffmpeg client decoding one camera over TCP; its progress is read as it comes."""

    def __init__(self, camera):
        self.proc = subprocess.Popen(["ffmpeg", "-v", "error", "-stats", "-stats_period", "0.25", "-rtsp_transport", "tcp",
                                      "-i", "rtsp://127.0.0.1:%d/cam%d" % (rtsp, camera), "-f", "null", "-"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.progress = []  # (time, frames decoded)
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        line = b""
        while chunk := self.proc.stderr.read(1):
            if chunk in (b"\r", b"\n"):
                m = re.search(rb"frame=\s*(\d+)", line)
                if m:
                    self.progress.append((time.monotonic(), int(m.group(1))))
                line = b""
            else:
                line += chunk

    def frames_at(self, t):
        done = [f for when, f in self.progress if when <= t]
        return done[-1] if done else 0

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


time.sleep(1)
cpu0 = cores(seconds)
one = [Player(0), Player(1)]
time.sleep(2)
cpu1 = cores(seconds)
for p in one:
    p.stop()
time.sleep(1)
eight = [Player(camera) for camera in (0, 1) for _ in range(4)]
time.sleep(2)
before = stats()
start = time.monotonic()
cpu8 = cores(seconds)
end = time.monotonic()
cameras = stats()
slowest = min((p.frames_at(end) - p.frames_at(start)) / (end - start) for p in eight)
for p in eight:
    p.stop()
missed = [c["missed"] - b["missed"] for c, b in zip(cameras, before)]
sent_median = max(c["rtsp_sent_ms_median"] for c in cameras)
sent_p99 = max(c["rtsp_sent_ms_p99"] for c in cameras)
proc.terminate()
proc.wait()
print("%.1f %d %d %.2f %.2f %.2f %.2f %.2f" % (slowest, missed[0], missed[1], sent_median, sent_p99, cpu0, cpu1, cpu8))
