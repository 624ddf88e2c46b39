"""twincam-serve's CPU (cores) with camera 0 at 1280x720 and 30 fps: one RTSP
client; one RTSP client while recording; four RTSP clients while
recording. The camera's one H.264 encoder serves them all, so recording
beside a viewer should cost little more than the viewer alone.
Prints: cpu_rtsp1 cpu_rtsp1_rec cpu_rtsp4_rec
Usage: recording.py SERVE_TOOL SECONDS"""
import shutil
import subprocess
import sys
import tempfile
import time

from served import cpu_seconds, start

tool, seconds = sys.argv[1], float(sys.argv[2])


def measure(clients, record):
    rec = tempfile.mkdtemp(prefix="twincam-bench-rec-")
    args = ["--camera", "0", "--rtsp", "127.0.0.1:0", "--size", "1280x720", "--fps", "30"]
    proc, ports = start(tool, args + (["--record", rec] if record else []))
    players = [subprocess.Popen(["ffmpeg", "-v", "quiet", "-rtsp_transport", "tcp", "-i",
                                 "rtsp://127.0.0.1:%d/cam0" % ports["rtsp"], "-c", "copy", "-f", "null", "-"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
               for _ in range(clients)]
    time.sleep(2)  # the encoder and the clients settle
    before, t0 = cpu_seconds(proc), time.monotonic()
    time.sleep(seconds)
    cores = (cpu_seconds(proc) - before) / (time.monotonic() - t0)
    for p in players:
        p.terminate()
        p.wait()
    proc.terminate()
    proc.wait()
    shutil.rmtree(rec, ignore_errors=True)
    return cores


print("%.3f %.3f %.3f" % (measure(1, False), measure(1, True), measure(4, True)))
