"""A Python loop of cam.read() against the C read loop, unpaced at 1920x1080,
best of three runs each, alternated. Prints: ratio python_fps c_fps.
Usage: python_read.py READ_LOOP_BINARY FRAMES   (PYTHONPATH holds twincam)"""
import os
import re
import subprocess
import sys
import time

os.environ["TWINCAM_SIM_PACE"] = "0"
import twincam  # noqa: E402

loop, frames = sys.argv[1], int(sys.argv[2])


def c_loop():
    err = subprocess.run([loop, str(frames), "1920x1080"], capture_output=True, text=True, check=True).stderr
    return float(re.search(r"fps ([0-9.]+)", err).group(1))


def python_loop(cam):
    start = time.perf_counter()
    for _ in range(frames):
        frame = cam.read()
        del frame
    return frames / (time.perf_counter() - start)


best_c = best_py = 0.0
with twincam.Camera(0, fps=30, width=1920, height=1080) as cam:
    for _ in range(3):
        best_c = max(best_c, c_loop())
        best_py = max(best_py, python_loop(cam))
print("%.3f %.0f %.0f" % (best_py / best_c, best_py, best_c))
