"""twincam-serve's RTSP beside an attacker holding idle connections from
another address (127.0.0.2; the limits raised so that they are all held):
connections per second the RTSP port accepts and answers (a connection, an
OPTIONS, its answer, from 127.0.0.3), and a viewer's time to its first
decoded frame (ffmpeg as a live viewer, its own start included, median of
3), without the attack and with it.
Prints: connects_alone first_alone connects_attacked first_attacked
Usage: rtsp_attack.py SERVE_TOOL ATTACKERS"""
import socket
import statistics
import subprocess
import sys
import time

from served import start

tool, attackers = sys.argv[1], int(sys.argv[2])
proc, ports = start(tool, ["--camera", "0", "--rtsp", "127.0.0.1:0", "--size", "1280x720", "--fps", "30",
                           "--max-connections", str(attackers + 1024), "--max-per-address", str(attackers + 16),
                           "--head-timeout", "120"])
rtsp = ports["rtsp"]
url = "rtsp://127.0.0.1:%d/cam0" % rtsp


def connection(source):
    s = socket.socket()
    s.bind((source, 0))
    s.connect(("127.0.0.1", rtsp))
    return s


def connects(count=200):
    t0 = time.monotonic()
    for _ in range(count):
        with connection("127.0.0.3") as s:
            s.sendall(b"OPTIONS %s RTSP/1.0\r\nCSeq: 1\r\n\r\n" % url.encode())
            s.recv(1024)
    return count / (time.monotonic() - t0)


def first_frame():
    def once():
        t0 = time.monotonic()
        # A live viewer's flags: decode from the first key frame, not after probing seconds of stream.
        subprocess.run(["ffmpeg", "-v", "quiet", "-fflags", "nobuffer", "-probesize", "32", "-analyzeduration", "0",
                        "-rtsp_transport", "tcp", "-i", url, "-frames:v", "1", "-f", "null", "-"],
                       stdin=subprocess.DEVNULL, timeout=30)
        return time.monotonic() - t0
    return statistics.median(once() for _ in range(3))


try:
    time.sleep(1)
    alone = connects(), first_frame()
    held = [connection("127.0.0.2") for _ in range(attackers)]
    time.sleep(0.5)
    attacked = connects(), first_frame()
    print("%.0f %.3f %.0f %.3f" % (alone[0], alone[1], attacked[0], attacked[1]))
    for s in held:
        s.close()
finally:
    proc.terminate()
    proc.wait()
