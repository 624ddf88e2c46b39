"""twincam-serve through a camera outage: camera 0 at 1280x720 and 30 fps is
unplugged 2 s after it opens, for OUTAGE seconds, with one MJPEG client on it.
Measures the server's CPU (cores) in the middle of the outage (retrying and
"no signal" must not spin) and the time from the camera's return to the
first of its frames that the client receives (the reopening's backoff, up to
--reopen-max, is most of it).
Prints: down_cpu_cores return_to_frame_s
Usage: reopen.py SERVE_TOOL OUTAGE_SECONDS"""
import os
import re
import socket
import sys
import time

from served import cpu_seconds, start

tool, outage = sys.argv[1], float(sys.argv[2])
unplug_at = 2.0
env = dict(os.environ, TWINCAM_SIM_UNPLUG_0="%g+%g" % (unplug_at, outage))
started = time.monotonic()  # the camera opens just before the server listens
proc, ports = start(tool, ["--rtsp", "off", "--camera", "0", "--size", "1280x720"], env)
port = ports["http"]


def stamped(jpeg):
    """Whether a part is the camera's (a frame) rather than "no signal": the stamp's white blocks on its top row."""
    return len(jpeg) > 30000


sock = socket.create_connection(("127.0.0.1", port))
sock.sendall(b"GET /stream/0 HTTP/1.1\r\nHost: x\r\n\r\n")
buf = b""
down_cpu = None
returned = started + unplug_at + outage
first_after = None
deadline = returned + 10
while time.monotonic() < deadline and first_after is None:
    buf += sock.recv(1 << 16)
    now = time.monotonic()
    if down_cpu is None and now > started + unplug_at + outage / 4:
        before, t0 = cpu_seconds(proc), now
        time.sleep(outage / 2)
        down_cpu = (cpu_seconds(proc) - before) / (time.monotonic() - t0)
        buf = b""
        continue
    while True:
        m = re.search(rb"Content-Length: (\d+)\r\n\r\n", buf)
        if not m or len(buf) < m.end() + int(m.group(1)):
            break
        part = buf[m.end():m.end() + int(m.group(1))]
        buf = buf[m.end() + int(m.group(1)):]
        if time.monotonic() > returned and stamped(part):
            first_after = time.monotonic() - returned
proc.terminate()
proc.wait()
print("%.3f %.2f" % (-1 if down_cpu is None else down_cpu, -1 if first_after is None else first_after))
