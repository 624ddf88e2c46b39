"""The twincam Python module against the stand-ins. CTest runs each test in
a process of its own, since the library's registry lasts as long as the
process."""
import threading

import numpy as np
import pytest

import twincam
from twincam import sim


@pytest.fixture(autouse=True)
def unpaced_and_nothing_left():
    sim.set_pacing(False)
    yield
    assert sim.live_buffers() == 0


def test_frames_are_nv12_arrays_with_consecutive_stamps():
    with twincam.Camera(0, fps=30, width=640, height=480) as cam:
        frame = cam.read()
        assert frame.dtype == np.uint8 and frame.shape == (720, 640)
        assert sim.stamp(frame) == (0, 0)
        y, uv = twincam.planes(frame)
        assert y.shape == (480, 640) and uv.shape == (240, 320, 2)
        assert np.shares_memory(y, frame) and np.shares_memory(uv, frame)
        rgb = twincam.to_rgb(frame)
        assert rgb.shape == (480, 640, 3) and not np.shares_memory(rgb, frame)
        assert [sim.stamp(f) for f in cam.frames(3)] == [(0, 1), (0, 2), (0, 3)]
        del frame, y, uv
    assert cam.closed


def test_buffer_freed_once_only_after_the_last_view():
    cam = twincam.Camera(1, fps=30, width=320, height=240)
    frame = cam.read()
    assert sim.live_buffers() == 1
    y, uv = twincam.planes(frame)
    row = y[10]
    del frame, y, uv
    assert sim.live_buffers() == 1, "a view keeps the buffer alive"
    cam.close()
    assert sim.live_buffers() == 1, "closing frees nothing the caller holds"
    assert row.shape == (320,)
    del row
    assert sim.live_buffers() == 0


def test_reads_from_two_threads_on_two_cameras():
    cams = [twincam.Camera(i, fps=30, width=160, height=120) for i in (0, 1)]
    seen = {0: [], 1: []}

    def reader(cam):
        for frame in cam.frames(200):
            seen[cam.id].append(sim.stamp(frame))

    threads = [threading.Thread(target=reader, args=(c,)) for c in cams]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for cam in cams:
        assert seen[cam.id] == [(cam.id, n) for n in range(200)]
        cam.close()


def test_injected_faults_raise_camera_error_and_leak_nothing():
    sim.set_faults("read@2=short")
    with twincam.Camera(0, fps=30, width=160, height=120) as cam:
        cam.read()
        with pytest.raises(twincam.CameraError, match="ReadCameraFrame failed for camera 0") as e:
            cam.read()
        assert isinstance(e.value, OSError)
    sim.set_faults("open@2")  # calls count from the start: camera 0 made the first
    with pytest.raises(twincam.CameraError, match="camera 1"):
        twincam.Camera(1)
    with pytest.raises(ValueError, match="read@x"):
        sim.set_faults("read@x")
    sim.clear_faults()
    cam = twincam.Camera(1, width=160, height=120)
    cam.close()
    with pytest.raises(twincam.CameraError, match="closed"):
        cam.read()


def test_bad_arguments_raise_before_any_library_call():
    for args, error in [(("0",), TypeError), ((1.5,), TypeError), ((2,), ValueError), ((-1,), ValueError),
                        ((0, 30, -640, 480), ValueError), ((0, 0, 640, 480), ValueError)]:
        with pytest.raises(error):
            twincam.Camera(*args)
    assert twincam.registry()["hw_initialized"] is False, "nothing reached the library"


def test_registry_keeps_the_first_open():
    twincam.Camera(1, fps=15, width=320, height=240).close()
    with twincam.Camera(1, fps=30, width=640, height=480):
        pass
    reg = twincam.registry()
    assert reg["hw_initialized"] is True
    assert reg["cameras"][1] == {"initialized": True, "id": 1, "fps": 15, "width": 320, "height": 240,
                                 "frame_size": 115200}
    assert reg["cameras"][0]["initialized"] is False and reg["cameras"][0]["id"] == 255
