"""twincam-serve under load: both cameras at 1280x720 and 30 fps, four
clients on each stream for a while. Prints: the slowest client's frames per
second, frames missed by the reader (both cameras), and the median time from
a frame's read to its last byte leaving for a client, in ms.
Usage: serve_clients.py SERVE_TOOL SECONDS"""
import json
import re
import socket
import subprocess
import sys
import threading
import time
import urllib.request

tool, seconds = sys.argv[1], float(sys.argv[2])
proc = subprocess.Popen([tool, "--listen", "127.0.0.1:0", "--size", "1280x720", "--fps", "30"],
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
port = None
for line in proc.stdout:
    m = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
    if m:
        port = int(m.group(1))
        break


def client(camera, counts, index, stop):
    sock = socket.create_connection(("127.0.0.1", port))
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


counts = [0] * 8
stop = threading.Event()
threads = [threading.Thread(target=client, args=(i % 2, counts, i, stop)) for i in range(8)]
for t in threads:
    t.start()
time.sleep(1.0)  # every client connected and streaming
start_counts = list(counts)
time.sleep(seconds)
end_counts = list(counts)
stats = json.load(urllib.request.urlopen("http://127.0.0.1:%d/stats" % port))
stop.set()
proc.terminate()
proc.wait()
for t in threads:
    t.join()
rates = [(e - s) / seconds for s, e in zip(start_counts, end_counts)]
cams = stats["cameras"]
print("%.1f %d %d %.2f" % (min(rates), cams[0]["missed"], cams[1]["missed"],
                           sum(c["delivery_ms_median"] for c in cams) / len(cams)))
