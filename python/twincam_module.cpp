// twincam._twincam, the compiled core of the twincam package: cameras whose
// frames arrive as NumPy arrays over the dvpp buffer itself. The buffer is
// freed with acldvppFree when the last array or view over it is gone. Every
// library call releases the GIL and takes the process's library lock.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <string>

#include "frame.h"
#include "library_lock.h"
#include "nv12.h"
#include "pairing.h"
#include "stamp.h"
#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"
#include "twincam/platform/frame_limits.h"
#if TWINCAM_WITH_SIM
#include "twincam/sim/twincam_sim.h"
#endif

namespace py = pybind11;

namespace {

// Runs one library call without the GIL, under the library lock.
template <typename Call>
int32_t Library(Call &&call) {
    py::gil_scoped_release release;
    return twincam::common::Locked(call);
}

struct CameraError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void CheckId(int id) {
    if (id != 0 && id != 1) throw py::value_error("camera id must be 0 or 1, not " + std::to_string(id));
}

// twincam.Frame, the ndarray subclass frames are returned as (defined in
// Python; the module is loaded by the time a camera reads).
py::object FrameType() {
    static py::object *type = new py::object(py::module_::import("twincam._frame").attr("Frame"));
    return *type;
}

// What twincam.Camera wraps: one open camera of the library.
class CameraHandle {
public:
    CameraHandle(int id, int fps, int width, int height)
        : id_(id), fps_(fps), width_(width), height_(height), stamps_(id) {
        CheckId(id);
        if (!twincam_frame_rate_ok(fps)) {
            throw py::value_error("fps must be " + std::to_string(TWINCAM_MIN_FPS) + " to " +
                                  std::to_string(TWINCAM_MAX_FPS) + ", not " + std::to_string(fps));
        }
        if (!twincam_frame_size_ok(width, height)) {
            throw py::value_error("width and height must be even, " + std::to_string(TWINCAM_MIN_SIDE) + " to " +
                                  std::to_string(TWINCAM_MAX_SIDE) + ", not " + std::to_string(width) + "x" +
                                  std::to_string(height));
        }
        if (Library([&] { return OpenCameraEx(id, fps, width, height); }) != 0) {
            throw CameraError("OpenCameraEx failed for camera " + std::to_string(id) + " at " + std::to_string(fps) +
                              " fps, " + std::to_string(width) + "x" + std::to_string(height));
        }
        open_ = true;
    }
    ~CameraHandle() {
        if (open_) Library([&] { return CloseCameraEx(id_); });
    }

    // One NV12 frame, shape (height * 3 / 2, width), over the dvpp buffer,
    // as a twincam.Frame with its sequence and capture times.
    py::object Read() {
        if (!open_) throw CameraError("camera " + std::to_string(id_) + " is closed");
        CameraFrame frame{};
        CameraRecord record{};
        if (Library([&] {
                record = g_CameraMgr.cameras[id_];
                return ReadCameraFrame(id_, &frame);
            }) != 0) {
            throw CameraError("ReadCameraFrame failed for camera " + std::to_string(id_));
        }
        const int64_t monotonic = twincam::common::Nanoseconds(twincam::common::Clock::now());
        const int64_t wall = twincam::common::Nanoseconds(twincam::common::WallClock::now());
        const auto seen = stamps_.Track(frame.data, record.width, record.height);
        py::capsule owner(frame.data, [](void *data) { (void)acldvppFree(data); });
        const py::ssize_t width = record.width, rows = frame.size / record.width;
        py::array array = py::array_t<uint8_t>({rows, width}, {width, py::ssize_t{1}},
                                               static_cast<uint8_t *>(frame.data), owner);
        py::object out = array.attr("view")(FrameType());
        out.attr("sequence") = seen.sequence;
        out.attr("timestamp_ns") = monotonic;
        out.attr("wall_ns") = wall;
        return out;
    }

    void Close() {
        if (!open_) return;
        open_ = false;
        if (Library([&] { return CloseCameraEx(id_); }) != 0) {
            throw CameraError("CloseCameraEx failed for camera " + std::to_string(id_));
        }
    }

    int id() const { return id_; }
    int fps() const { return fps_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool closed() const { return !open_; }

private:
    int id_, fps_, width_, height_;
    bool open_ = false;
    twincam::common::StampTracker stamps_;
};

// What twincam.Pair wraps: two open cameras read as matched pairs.
class PairHandle {
public:
    PairHandle(py::object cam0, py::object cam1, std::optional<int64_t> maxSkewNs)
        : cameras_{std::move(cam0), std::move(cam1)},
          reader_(maxSkewNs.value_or(twincam::common::HalfPeriodNs(std::min(Fps(cameras_[0]), Fps(cameras_[1])))),
                  ReadSide{cameras_}, TimeOf{}) {
        if (reader_.matcher().maxSkewNs() < 0) throw py::value_error("max_skew_ns must be 0 or more");
    }

    // A matched (frame0, frame1).
    py::tuple Read() {
        std::string error;
        auto pair = reader_.Next(&error);
        if (!pair) throw CameraError(error);
        return py::make_tuple(pair->first, pair->second);
    }

    long unmatched() const { return reader_.unmatched(); }
    long pairs() const { return reader_.matcher().pairs(); }
    int64_t maxSkewNs() const { return reader_.matcher().maxSkewNs(); }

private:
    static int Fps(const py::object &camera) { return camera.cast<CameraHandle &>().fps(); }
    struct ReadSide {
        py::object *cameras;
        py::object operator()(int side) const { return cameras[side].attr("read")(); }
    };
    struct TimeOf {
        int64_t operator()(const py::object &frame) const { return frame.attr("timestamp_ns").cast<int64_t>(); }
    };

    py::object cameras_[2];
    twincam::common::PairReader<py::object, ReadSide, TimeOf> reader_;
};

// The frame as NV12, when it has an NV12 frame's shape (height * 3 / 2, width).
twincam::common::Nv12View Nv12Of(const py::array_t<uint8_t> &frame) {
    if (frame.ndim() != 2 || frame.shape(0) % 3 != 0 || frame.shape(1) % 2 != 0) {
        throw py::value_error("not an NV12 frame: expected shape (height * 3 / 2, width)");
    }
    return {frame.data(), static_cast<int>(frame.shape(1)), static_cast<int>(frame.shape(0) / 3 * 2)};
}

// frame[:h] and frame[h:] seen as (h/2, w/2, 2): views, no copy.
py::tuple Planes(const py::array_t<uint8_t> &frame) {
    const twincam::common::Nv12View nv12 = Nv12Of(frame);
    const py::ssize_t h = nv12.height, w = nv12.width;
    py::object y = frame[py::slice(0, h, 1)];
    py::object uv = frame[py::slice(h, frame.shape(0), 1)].attr("reshape")(h / 2, w / 2, 2);
    return py::make_tuple(y, uv);
}

py::array_t<uint8_t> ToRgb(const py::array_t<uint8_t, py::array::c_style> &frame) {
    const twincam::common::Nv12View nv12 = Nv12Of(frame);
    py::array_t<uint8_t> rgb({nv12.height, nv12.width, 3});
    uint8_t *out = rgb.mutable_data();
    {
        py::gil_scoped_release release;
        twincam::common::Nv12ToRgb(nv12, out);
    }
    return rgb;
}

py::dict Registry() {
    CameraManager copy{};
    Library([&] {
        copy = g_CameraMgr;
        return 0;
    });
    py::list cameras;
    for (const CameraRecord &r : copy.cameras) {
        py::dict d;
        d["initialized"] = r.initialized;
        d["id"] = r.id;
        d["fps"] = r.fps;
        d["width"] = r.width;
        d["height"] = r.height;
        d["frame_size"] = r.frameSize;
        cameras.append(d);
    }
    py::dict out;
    out["hw_initialized"] = copy.hwInitialized;
    out["cameras"] = cameras;
    return out;
}

void BindCamera(py::module_ &m) {
    py::class_<CameraHandle>(m, "Camera", "An open camera; close() or a with block closes it.")
        .def(py::init<int, int, int, int>(), py::arg("id"), py::arg("fps") = 30, py::arg("width") = 640,
             py::arg("height") = 480, "Opens camera id (0 or 1) at fps frames per second and width x height.")
        .def("read", &CameraHandle::Read,
             "Reads one frame: a uint8 array of shape (height * 3 // 2, width), NV12, over the dvpp buffer.")
        .def(
            "frames",
            [](py::object self, py::ssize_t count) {
                // A generator of count reads (every read when count < 0).
                py::object itertools = py::module_::import("itertools");
                py::object gen = count >= 0 ? itertools.attr("repeat")(py::none(), count)
                                            : itertools.attr("repeat")(py::none());
                return py::module_::import("builtins")
                    .attr("map")(py::cpp_function([self](py::object) { return self.attr("read")(); }), gen);
            },
            py::arg("count") = -1, "An iterator of reads: count of them, or without end.")
        .def("close", &CameraHandle::Close, "Closes the camera; reading it afterwards raises CameraError.")
        .def_property_readonly("id", &CameraHandle::id)
        .def_property_readonly("fps", &CameraHandle::fps)
        .def_property_readonly("width", &CameraHandle::width)
        .def_property_readonly("height", &CameraHandle::height)
        .def_property_readonly("closed", &CameraHandle::closed)
        .def("__enter__", [](py::object self) { return self; })
        // Never swallows an exception: returns None, as its type says.
        .def("__exit__", [](CameraHandle &c, py::args) { c.Close(); });
    py::class_<PairHandle>(m, "Pair", "Two open cameras read as a stereo pair, frames matched by capture time.")
        .def(py::init<py::object, py::object, std::optional<int64_t>>(), py::arg("cam0"), py::arg("cam1"),
             py::arg("max_skew_ns") = py::none(),
             "Pairs cam0's frames with cam1's no more than max_skew_ns apart (default: half the slower "
             "camera's frame period).")
        .def("read", &PairHandle::Read,
             "A matched (frame0, frame1); raises CameraError when no pair matches within a few frames.")
        .def_property_readonly("unmatched", &PairHandle::unmatched, "Frames dropped for want of a partner.")
        .def_property_readonly("pairs", &PairHandle::pairs, "Pairs returned.")
        .def_property_readonly("max_skew_ns", &PairHandle::maxSkewNs);
}

#if TWINCAM_WITH_SIM
py::object Stamp(const py::array_t<uint8_t, py::array::c_style> &frame) {
    const twincam::common::Nv12View nv12 = Nv12Of(frame);
    int camera = 0;
    uint32_t sequence = 0;
    if (!twincam::common::DecodeStamp(nv12.data, nv12.width, nv12.height, &camera, &sequence)) return py::none();
    return py::make_tuple(camera, sequence);
}

void BindSim(py::module_ &m) {
    py::module_ sim = m.def_submodule("sim", "Controls of the simulated platform, for testing applications.");
    sim.def(
        "set_faults",
        [](const std::string &schedule) {
            char err[256] = "";
            if (twincam_sim_set_faults(schedule.c_str(), err, sizeof err) != 0) throw py::value_error(err);
        },
        py::arg("schedule"), "Scripts failures, as TWINCAM_SIM_FAULTS does (e.g. 'read@3=short').");
    sim.def("clear_faults", &twincam_sim_clear_faults, "Drops every scripted failure.");
    sim.def(
        "set_pacing", [](bool on) { twincam_sim_set_pacing(on ? 1 : 0); }, py::arg("on"),
        "Paced like a sensor (True) or every read at once (False).");
    sim.def(
        "set_phase",
        [](int camera, double ms) {
            CheckId(camera);
            twincam_sim_set_phase(camera, ms);
        },
        py::arg("camera"), py::arg("ms"), "Offsets a camera's frame times on the board clock by ms milliseconds.");
    sim.def(
        "call_count_read", [] { return twincam_sim_call_count(TWINCAM_SIM_OP_READ); },
        "Reads the camera service has been asked for, so that a fault can name the next one.");
    sim.def("live_buffers", &twincam_sim_live_buffers, "dvpp buffers allocated and not yet freed.");
    sim.def("peak_calls_in_flight", &twincam_sim_peak_calls_in_flight,
            "The most platform calls in progress at once: above 1, two threads called the library unserialised.");
    sim.def("stamp", &Stamp, py::arg("frame"), "(camera, sequence) from a simulated frame's stamp, or None.");
}
#endif

}  // namespace

PYBIND11_MODULE(_twincam, m) {
    m.doc() = "Cameras through the twincam library; frames are NumPy arrays over the dvpp buffer, never copied.";
    m.attr("__version__") = TWINCAM_VERSION;
    py::register_exception<CameraError>(m, "CameraError", PyExc_OSError);
    BindCamera(m);
    m.def("planes", &Planes, py::arg("frame"),
          "Views of an NV12 frame: luma (h, w) and interleaved chroma (h/2, w/2, 2).");
    m.def("to_rgb", &ToRgb, py::arg("frame"), "A new (h, w, 3) uint8 RGB array (BT.601 limited range).");
    m.def("registry", &Registry, "The library's registry: hw_initialized and one dict per camera.");
#if TWINCAM_WITH_SIM
    BindSim(m);
#endif
}
