"""twincam-serve under load: both cameras at 1280x720 and 30 fps, four
clients on each stream, for a while, with ATTACKERS other connections held
open beside them (half idle, half trickling a header line every 3 s, from many
loopback addresses, reopened as the server closes them). A fresh client asks
for /stats 20 times meanwhile. Prints: the slowest client's frames per second,
frames missed by each camera's reader, the median read-to-sent time (ms), the
fresh client's /stats time median and max (ms), the peak resident memory (MiB).
Usage: serve_clients.py SERVE_TOOL SECONDS ATTACKERS"""
import json
import re
import socket
import statistics
import subprocess
import sys
import threading
import time

from served import start

tool, seconds, attackers = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
proc, ports = start(tool, ["--rtsp", "off", "--size", "1280x720", "--fps", "30"])
port = ports["http"]


def connect(source):
    sock = socket.socket()
    sock.bind((source, 0))
    sock.connect(("127.0.0.1", port))
    return sock


def client(camera, counts, index, stop):
    sock = connect("127.0.0.2")
    sock.sendall(b"GET /stream/%d HTTP/1.1\r\nHost: x\r\n\r\n" % camera)
    data = b""
    while not stop.is_set():
        chunk = sock.recv(1 << 16)
        if not chunk:
            break
        data += chunk
        # Each part announces its length; count the parts whose bytes came.
        while True:
            m = re.search(rb"Content-Length: (\d+)\r\n\r\n", data)
            if not m or len(data) < m.end() + int(m.group(1)):
                break
            counts[index] += 1
            data = data[m.end() + int(m.group(1)):]
    sock.close()


def attack(stop):
    """Holds `attackers` connections open, 10 per address of 127.1.0.0/16."""
    source = lambda i: "127.1.%d.%d" % (i // 10 // 250, 1 + i // 10 % 250)
    held = [None] * attackers
    while not stop.is_set():
        for i in range(attackers):
            sock = held[i]
            try:
                if sock is not None and sock.recv(1, socket.MSG_DONTWAIT) == b"":
                    sock.close()
                    sock = None
            except BlockingIOError:
                pass
            if sock is None:
                sock = connect(source(i))
                if i % 2:
                    sock.send(b"GET /stats HTTP/1.1\r\n")
            elif i % 2:
                sock.send(b"X-Slow: 1\r\n", socket.MSG_NOSIGNAL)
            held[i] = sock
        stop.wait(3.0)
    for sock in held:
        if sock is not None:
            sock.close()


def stats_time():
    sock = connect("127.0.0.1")
    start = time.monotonic()
    sock.sendall(b"GET /stats HTTP/1.0\r\n\r\n")
    data = b""
    while True:
        chunk = sock.recv(65536)
        if not chunk:
            break
        data += chunk
    took = (time.monotonic() - start) * 1000
    sock.close()
    return took, json.loads(data.split(b"\r\n\r\n", 1)[1])


counts = [0] * 8
stop = threading.Event()
threads = [threading.Thread(target=client, args=(i % 2, counts, i, stop)) for i in range(8)]
threads.append(threading.Thread(target=attack, args=(stop,)))
for t in threads:
    t.start()
time.sleep(2.0)  # every client connected and streaming, the attack in place
start_counts = list(counts)
times, peak_kib, stats = [], 0, None
for _ in range(20):
    time.sleep(seconds / 20)
    took, stats = stats_time()
    times.append(took)
    peak_kib = max(peak_kib, stats["rss_kib"])
end_counts = list(counts)
stop.set()
proc.terminate()
proc.wait()
for t in threads:
    t.join()
rates = [(e - s) / seconds for s, e in zip(start_counts, end_counts)]
cams = stats["cameras"]
print("%.1f %d %d %.2f %.1f %.1f %.1f" % (min(rates), cams[0]["missed"], cams[1]["missed"],
                                          sum(c["delivery_ms_median"] for c in cams) / len(cams),
                                          statistics.median(times), max(times), peak_kib / 1024))
