"""What the Python tests of twincam-serve share: starting it, paced, on free
loopback ports."""
import os
import re
import subprocess
import tempfile

TOOL = os.environ["TWINCAM_SERVE_TOOL"]


def start(*args, schemes=("http",), env=None):
    """The server with args, once it has printed an address for each scheme:
    the process and the ports by scheme. Its log goes to a file (a pipe
    nobody reads could fill and stall it), read with log(proc). A GLib or
    GStreamer critical ends it: the test fails on the server gone."""
    errors = tempfile.TemporaryFile("w+")
    proc = subprocess.Popen([TOOL, "--listen", "127.0.0.1:0", *args], stdout=subprocess.PIPE, stderr=errors,
                            text=True, env={**os.environ, "TWINCAM_SIM_PACE": "1", "G_DEBUG": "fatal-criticals", **(env or {})})
    proc.log = errors
    ports = {}
    for line in proc.stdout:
        m = re.search(r"\b(\w+)://127\.0\.0\.1:(\d+)/$", line.strip())
        if m and m.group(1) in schemes:
            ports[m.group(1)] = int(m.group(2))
        if len(ports) == len(schemes):
            return proc, ports
    raise AssertionError("the server did not start: " + log(proc))


def log(proc):
    """What the server has written to its standard error."""
    proc.log.seek(0)
    return proc.log.read()
