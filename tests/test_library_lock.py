"""The Python module and the GStreamer element in one process: a twincamsrc
pipeline reads camera 1 while the module reads camera 0, both opening at
the same moment, again and again. The library takes no locks, so every
component of ours must take the one process-wide lock: the stand-ins count
the platform calls in progress at once, and there must never be two."""
import threading

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

import twincam  # noqa: E402
from twincam import sim  # noqa: E402

ROUNDS = 20
FRAMES = 4


def run_pipeline(start: threading.Barrier) -> None:
    pipeline = Gst.parse_launch(
        f"twincamsrc camera-id=1 num-buffers={FRAMES} ! video/x-raw,width=320,height=240,framerate=120/1 ! fakesink")
    start.wait()
    pipeline.set_state(Gst.State.PLAYING)
    message = pipeline.get_bus().timed_pop_filtered(10 * Gst.SECOND, Gst.MessageType.EOS | Gst.MessageType.ERROR)
    pipeline.set_state(Gst.State.NULL)
    assert message is not None and message.type == Gst.MessageType.EOS, message


def read_module(start: threading.Barrier) -> None:
    start.wait()
    with twincam.Camera(0, fps=120, width=320, height=240) as cam:
        for _ in cam.frames(FRAMES):
            pass


def test_element_and_module_never_call_the_library_at_once():
    Gst.init(None)
    sim.set_pacing(True)  # paced reads wait inside the service, so overlaps last
    for _ in range(ROUNDS):
        start = threading.Barrier(2)
        element = threading.Thread(target=run_pipeline, args=(start,))
        element.start()
        read_module(start)
        element.join()
    assert sim.live_buffers() == 0
    assert sim.peak_calls_in_flight() == 1
