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


def test_frames_carry_rising_times_spaced_by_the_frame_rate():
    sim.set_pacing(True)
    with twincam.Camera(0, fps=50, width=320, height=240) as cam:
        frames = [cam.read() for _ in range(12)][2:]  # the first reads take what the sensor held
        assert isinstance(frames[0], twincam.Frame) and isinstance(frames[0], np.ndarray)
        assert [f.sequence for f in frames] == list(range(frames[0].sequence, frames[0].sequence + 10))
        gaps = np.diff([f.timestamp_ns for f in frames]) / 1e6
        # A loaded machine delays a read now and then; the spacing holds on the whole.
        assert abs(np.median(gaps) - 20.0) < 2.0 and abs(gaps.mean() - 20.0) < 2.0, gaps
        assert abs(np.diff([f.wall_ns for f in frames]).sum() / 1e6 - gaps.sum()) < 5.0
        assert frames[0][:10].sequence == frames[0].sequence  # views keep the attributes
        del frames


def pair_of(phase_ms, **kwargs):
    sim.set_pacing(True)
    sim.set_phase(1, phase_ms)
    cams = twincam.Camera(0, fps=30, width=320, height=240), twincam.Camera(1, fps=30, width=320, height=240)
    return cams, twincam.Pair(*cams, **kwargs)


@pytest.mark.parametrize("phase_ms", [0.0, 6.0, -9.0, 25.0])
def test_pairs_within_the_bound_all_match(phase_ms):
    (cam0, cam1), pair = pair_of(phase_ms)
    with cam0, cam1:
        skews = []
        for _ in range(10):
            f0, f1 = pair.read()
            skews.append((f1.timestamp_ns - f0.timestamp_ns) / 1e6)
        del f0, f1
    # 25 ms late is 8.3 ms early for the next frame of camera 0.
    expected = phase_ms if phase_ms != 25.0 else 25.0 - 1000.0 / 30
    off = np.abs(np.array(skews) - expected)
    assert np.median(off) < 1.5 and off.max() < 8.0, skews
    assert pair.unmatched == 0


def test_a_dropped_frame_leaves_one_unmatched_and_the_pairs_after_it_match():
    (cam0, cam1), pair = pair_of(0.0)
    with cam0, cam1:
        for _ in range(3):
            pair.read()
        # In step, camera 0 is read first: camera 1's next frame is the second read from now.
        sim.set_faults("read@%d=drop" % (sim.call_count_read() + 2))
        skews = [abs(f1.timestamp_ns - f0.timestamp_ns) for f0, f1 in (pair.read() for _ in range(5))]
    assert pair.unmatched == 1
    assert max(skews) < 8_000_000, skews


def test_an_offset_over_the_bound_matches_nothing_and_says_so():
    (cam0, cam1), pair = pair_of(16.0, max_skew_ns=5_000_000)
    with cam0, cam1, pytest.raises(twincam.CameraError, match="no pair within 5.0 ms"):
        pair.read()
    assert pair.pairs == 0
