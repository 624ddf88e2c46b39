"""twincam-serve's WebRTC with camera 0 at 1280x720 and 30 fps on loopback,
aiortc as the peer:
- the time from the offer's POST to the first decoded frame (median of 3);
- the delay from a frame's read to its decoding in the peer, median and p99:
  a frame's read time is its stamp's number on the paced camera's clock,
  whose origin is found by sampling /stats' frames_read (the earliest a
  count can be seen is when its frame was read);
- bits per second of WebRTC against MJPEG (quality 80) of the same camera;
- the server's CPU with one RTSP client and two WebRTC peers against the
  RTSP client alone.
Prints: first_s median_ms p99_ms webrtc_bps mjpeg_bps cpu_rtsp cpu_rtsp_webrtc
Usage: webrtc.py SERVE_TOOL SECONDS"""
import asyncio
import json
import re
import statistics
import subprocess
import sys
import threading
import time
import urllib.request

import aiortc
from twincam import sim

from served import cpu_seconds, start

tool, seconds = sys.argv[1], float(sys.argv[2])
FPS = 30
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def fetch(base, path, method="GET", body=None, headers=None):
    req = urllib.request.Request(base + path, data=body, method=method, headers=headers or {})
    with opener.open(req) as r:
        return r.headers.get("Location"), r.read()


async def peer(base, span, frames=None):
    """A session of camera 0 for span seconds: seconds to its first frame,
    and (time decoded, stamp number) of each frame."""
    pc = aiortc.RTCPeerConnection()
    pc.addTransceiver("video", direction="recvonly")
    seen, first = [], asyncio.get_running_loop().create_future()

    @pc.on("track")
    def on_track(track):
        async def read():
            while True:
                try:
                    frame = await track.recv()
                except aiortc.mediastreams.MediaStreamError:  # closed
                    return
                now = time.monotonic()
                if not first.done():
                    first.set_result(now)
                stamp = sim.stamp(frame.to_ndarray(format="gray")) if frames is not None else None
                if stamp:
                    frames.append((now, stamp[1]))
        asyncio.ensure_future(read())

    await pc.setLocalDescription(await pc.createOffer())
    t0 = time.monotonic()
    location, answer = await asyncio.to_thread(fetch, base, "/whep/0", "POST", pc.localDescription.sdp.encode(),
                                               {"Content-Type": "application/sdp"})
    await pc.setRemoteDescription(aiortc.RTCSessionDescription(answer.decode(), "answer"))
    took = await asyncio.wait_for(first, 20) - t0
    await asyncio.sleep(span)
    await pc.close()
    await asyncio.to_thread(fetch, base, location, "DELETE")
    return took


def origin(base, span, samples):
    """The camera clock's origin: when frame 0 would have been read."""
    end = time.monotonic() + span
    while time.monotonic() < end:
        _, body = fetch(base, "/stats")
        samples.append(time.monotonic() - json.loads(body)["cameras"][0]["frames_read"] / FPS)
        time.sleep(0.013)


def delays(base):
    frames, samples = [], []
    sampler = threading.Thread(target=origin, args=(base, seconds + 1, samples))
    sampler.start()
    asyncio.run(peer(base, seconds, frames))
    sampler.join()
    zero = min(samples)
    ms = sorted(1000 * (at - (zero + number / FPS)) for at, number in frames)
    return statistics.median(ms), ms[int(0.99 * (len(ms) - 1))]


def metric(base, name):
    text = fetch(base, "/metrics")[1].decode()
    return float(re.search(r'^%s\{camera="0"\} (\S+)$' % name, text, re.M).group(1))


def rates(base):
    before = metric(base, "twincam_webrtc_sent_bytes_total")
    asyncio.run(peer(base, seconds))
    webrtc = (metric(base, "twincam_webrtc_sent_bytes_total") - before) * 8 / seconds
    got, end = 0, time.monotonic() + seconds
    with opener.open(base + "/stream/0") as stream:
        while time.monotonic() < end:
            got += len(stream.read1(65536))
    return webrtc, got * 8 / seconds


def cores(proc, span):
    before, t0 = cpu_seconds(proc), time.monotonic()
    time.sleep(span)
    return (cpu_seconds(proc) - before) / (time.monotonic() - t0)


def cpu(proc, base, rtsp):
    player = subprocess.Popen(["ffmpeg", "-v", "quiet", "-rtsp_transport", "tcp", "-i", "rtsp://127.0.0.1:%d/cam0" % rtsp,
                               "-c", "copy", "-f", "null", "-"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    time.sleep(2)
    # The encoder's cost follows the picture: RTSP alone is measured either
    # side of the peers, so that a drift in it does not read as theirs.
    before = cores(proc, seconds / 2)

    async def two():
        await asyncio.gather(peer(base, seconds + 3), peer(base, seconds + 3))
    peers = threading.Thread(target=asyncio.run, args=(two(),))
    peers.start()
    time.sleep(2.5)
    together = cores(proc, seconds)
    peers.join()
    time.sleep(1)
    alone = (before + cores(proc, seconds / 2)) / 2
    player.terminate()
    player.wait()
    return alone, together


proc, ports = start(tool, ["--camera", "0", "--rtsp", "127.0.0.1:0", "--size", "1280x720", "--fps", str(FPS)])
base = "http://127.0.0.1:%d" % ports["http"]
try:
    first = statistics.median(asyncio.run(peer(base, 0.5)) for _ in range(3))
    median, p99 = delays(base)
    webrtc, mjpeg = rates(base)
    alone, together = cpu(proc, base, ports["rtsp"])
    print("%.3f %.1f %.1f %.0f %.0f %.3f %.3f" % (first, median, p99, webrtc, mjpeg, alone, together))
finally:
    proc.terminate()
    proc.wait()
