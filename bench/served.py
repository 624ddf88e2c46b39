"""What the benchmarks of twincam-serve share: starting it on free ports, and
its CPU time."""
import os
import re
import subprocess


def start(tool, args, env=None):
    """The server with args, listening on free loopback ports; returns the
    process and its ports by scheme ("http", and "rtsp" unless off; over
    TLS too)."""
    proc = subprocess.Popen([tool, "--listen", "127.0.0.1:0"] + args, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, env=env)
    ports = {}
    rtsp = "off" not in args
    for line in proc.stdout:
        m = re.search(r"(http|rtsp)s?://127\.0\.0\.1:(\d+)/", line)
        if m:
            ports[m.group(1)] = int(m.group(2))
        if "http" in ports and ("rtsp" in ports or not rtsp):
            break
    return proc, ports


def cpu_seconds(proc):
    """User and system time the process has used so far."""
    with open("/proc/%d/stat" % proc.pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
