"""twincam-serve's CPU (cores) with four MJPEG clients of camera 0 at
1280x720 and 30 fps, over plain HTTP and over HTTPS (a self-signed P-256
certificate), and the slowest client's frames per second in each.
Prints: cpu_http fps_http cpu_https fps_https
Usage: tls.py SERVE_TOOL SECONDS"""
import os
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

from served import cpu_seconds, start

tool, seconds = sys.argv[1], float(sys.argv[2])


def client(url, context, counts, index, stop):
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}), urllib.request.HTTPSHandler(context=context))
    with opener.open(url) as stream:
        tail = b""
        while not stop.is_set():
            chunk = stream.read1(65536)
            counts[index] += (tail + chunk).count(b"--frame")
            tail = chunk[-8:]


def measure(tls_args, scheme, context):
    proc, ports = start(tool, ["--rtsp", "off", "--webrtc", "off", "--camera", "0", "--size", "1280x720", "--fps", "30",
                               *tls_args])
    port = ports["http"]
    counts, stop = [0] * 4, threading.Event()
    threads = [threading.Thread(target=client, args=("%s://127.0.0.1:%d/stream/0" % (scheme, port), context, counts, i,
                                                     stop)) for i in range(4)]
    for t in threads:
        t.start()
    time.sleep(2)
    before, frames, t0 = cpu_seconds(proc), list(counts), time.monotonic()
    time.sleep(seconds)
    span = time.monotonic() - t0
    cores = (cpu_seconds(proc) - before) / span
    slowest = min(now - then for now, then in zip(counts, frames)) / span
    stop.set()
    proc.terminate()
    proc.wait()
    for t in threads:
        t.join()
    return cores, slowest


with tempfile.TemporaryDirectory() as d:
    cert, key = os.path.join(d, "cert.pem"), os.path.join(d, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-days", "1", "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert], check=True,
                   capture_output=True)
    context = ssl.create_default_context(cafile=cert)
    context.check_hostname = False
    plain = measure([], "http", None)
    secure = measure(["--tls-cert", cert, "--tls-key", key], "https", context)
    print("%.3f %.1f %.3f %.1f" % (plain[0], plain[1], secure[0], secure[1]))
