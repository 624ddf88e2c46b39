"""Both cameras as a stereo pair: 1280x720 at 30 fps, paced, for SECONDS.
Prints: pairs per second, unmatched frames, median and p99 skew (ms).
Usage: pairs.py SECONDS   (PYTHONPATH holds twincam)"""
import statistics
import sys
import time

import twincam

seconds = float(sys.argv[1])
with twincam.Camera(0, fps=30, width=1280, height=720) as left, \
        twincam.Camera(1, fps=30, width=1280, height=720) as right:
    pair = twincam.Pair(left, right)
    pair.read()
    skews = []
    start = time.monotonic()
    while time.monotonic() - start < seconds:
        f0, f1 = pair.read()
        skews.append(abs(f1.timestamp_ns - f0.timestamp_ns) / 1e6)
    elapsed = time.monotonic() - start
skews.sort()
print("%.1f %d %.2f %.2f" % (len(skews) / elapsed, pair.unmatched, statistics.median(skews),
                             skews[min(len(skews) - 1, int(0.99 * len(skews)))]))
