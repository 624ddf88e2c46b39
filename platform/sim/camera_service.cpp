// The simulated camera service: two cameras that open, take the properties
// a sensor would take, and deliver frames into the caller's buffer.
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "pattern.h"
#include "scene.h"
#include "sim_core.h"
#include "twincam/platform/frame_limits.h"

namespace twincam::sim {
namespace {

constexpr int32_t kCameras = 2;
// What a sensor comes up with on open, until it is configured.
constexpr int32_t kDefaultFps = 30, kDefaultWidth = 1280, kDefaultHeight = 720;

using Clock = std::chrono::steady_clock;

struct Sensor {
    bool open = false;
    int32_t fps = kDefaultFps;
    int32_t width = kDefaultWidth;
    int32_t height = kDefaultHeight;
    int32_t mode = 1;
    uint32_t frames = 0;        // frames delivered since the open
    uint64_t next = 0;          // the lowest sequence number not yet delivered
    Clock::time_point epoch{};  // when frame `base` fell due
    uint64_t base = 0;
    std::shared_ptr<Footage> footage;  // the source it plays, if any
    std::shared_ptr<Scene> scene;      // what it draws at its current size
};

bool PaceFromEnvironment() {
    const char *pace = std::getenv("TWINCAM_SIM_PACE");
    return pace == nullptr || std::strcmp(pace, "0") != 0;
}

std::string SourceFromEnvironment(int32_t id) {
    const char *path = std::getenv(id == 0 ? "TWINCAM_SIM_SOURCE_0" : "TWINCAM_SIM_SOURCE_1");
    return path != nullptr ? path : "";
}

// TWINCAM_SIM_PHASE_<ID>: milliseconds camera id's frames fall due after
// the board clock's ticks.
double PhaseFromEnvironment(int32_t id) {
    const char *phase = std::getenv(id == 0 ? "TWINCAM_SIM_PHASE_0" : "TWINCAM_SIM_PHASE_1");
    return phase != nullptr ? std::strtod(phase, nullptr) : 0.0;
}

// A camera unplugged for a while: from `at` after its first open, for `span`.
struct Unplug {
    double atS = 0, forS = -1;  // a negative span: never
};

// TWINCAM_SIM_UNPLUG_<ID>=AT+FOR, in seconds; anything else leaves it plugged, said once.
Unplug UnplugFromEnvironment(int32_t id) {
    const char *name = id == 0 ? "TWINCAM_SIM_UNPLUG_0" : "TWINCAM_SIM_UNPLUG_1";
    const char *text = std::getenv(name);
    Unplug unplug;
    if (text == nullptr) return unplug;
    char *plus = nullptr, *end = nullptr;
    const double at = std::strtod(text, &plus);
    const double span = plus != text && *plus == '+' ? std::strtod(plus + 1, &end) : -1;
    if (end == nullptr || end == plus + 1 || *end != '\0' || !(at >= 0) || !(span >= 0)) {
        std::fprintf(stderr, "twincam-sim: ignoring %s='%s': it is AT+FOR in seconds, e.g. 2.5+3\n", name, text);
        return unplug;
    }
    return Unplug{at, span};
}

bool StampFromEnvironment() {
    const char *stamp = std::getenv("TWINCAM_SIM_STAMP");
    return stamp == nullptr || std::strcmp(stamp, "0") != 0;
}

struct Service {
    std::mutex mutex;
    bool initialized = false;
    bool paced = PaceFromEnvironment();
    bool stamp = StampFromEnvironment();
    Sensor cameras[kCameras];
    std::string source[kCameras] = {SourceFromEnvironment(0), SourceFromEnvironment(1)};
    std::string reported[kCameras];  // the source whose failure was last reported
    // Both sensors run off one board clock: at the same rate their frames
    // fall due at the same instants, whenever each was opened, but for a phase.
    Clock::time_point origin = Clock::now();
    double phaseMs[kCameras] = {PhaseFromEnvironment(0), PhaseFromEnvironment(1)};
    Unplug unplug[kCameras] = {UnplugFromEnvironment(0), UnplugFromEnvironment(1)};
    Clock::time_point firstOpen[kCameras] = {};  // zero until the camera's first open
};

Service &TheService() {
    static Service service;
    return service;
}

bool Known(int32_t id) { return id >= 0 && id < kCameras; }

// Whether camera id is unplugged now; its clock starts at its first open.
// With the service's mutex held.
bool Unplugged(int32_t id) {
    Service &s = TheService();
    const Unplug &u = s.unplug[id];
    if (u.forS < 0) return false;
    if (s.firstOpen[id] == Clock::time_point{}) s.firstOpen[id] = Clock::now();
    const double since = std::chrono::duration<double>(Clock::now() - s.firstOpen[id]).count();
    return since >= u.atS && since < u.atS + u.forS;
}

// A wedged driver: the call never returns.
[[noreturn]] void Hang() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// The latest instant, at or before now, at which a frame of camera id at fps
// falls due on the board clock. With the service's mutex held.
Clock::time_point BoardTick(int32_t id, int32_t fps) {
    const Service &s = TheService();
    const double period = 1.0 / fps;
    const Clock::time_point zero = s.origin + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double, std::milli>(s.phaseMs[id]));
    const double ticks = std::floor(std::chrono::duration<double>(Clock::now() - zero).count() / period);
    return zero + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(ticks * period));
}

// Frames from the next one on fall due on the board clock's ticks.
void Rebase(int32_t id, Sensor &camera) {
    camera.base = camera.next;
    camera.epoch = BoardTick(id, camera.fps);
}

twincam_sim_call Call(twincam_sim_op op, int32_t id, int32_t result) {
    twincam_sim_call call{};
    call.op = op;
    call.id = id;
    call.result = result;
    return call;
}

int32_t Finish(twincam_sim_op op, int32_t id, int32_t result) {
    Journal(Call(op, id, result));
    return result;
}

}  // namespace

int32_t ServiceInit() {
    int32_t unused = 0;
    if (TakeFault(TWINCAM_SIM_OP_INIT, &unused)) return Finish(TWINCAM_SIM_OP_INIT, 0, 0);
    std::lock_guard<std::mutex> lock(TheService().mutex);
    TheService().initialized = true;  // a second initialisation is harmless
    Journal(Call(TWINCAM_SIM_OP_INIT, 0, 1));
    return 1;
}

int32_t ServiceStatus(int32_t id) {
    int32_t status = 0;
    if (!TakeFault(TWINCAM_SIM_OP_STATUS, &status)) {
        std::lock_guard<std::mutex> lock(TheService().mutex);
        // An uninitialised service or an unknown camera has no valid status.
        if (TheService().initialized && Known(id)) status = TheService().cameras[id].open ? Open : Closed;
    }
    return Finish(TWINCAM_SIM_OP_STATUS, id, status);
}

int32_t ServiceOpen(int32_t id) {
    int32_t unused = 0;
    if (TakeFault(TWINCAM_SIM_OP_OPEN, &unused)) return Finish(TWINCAM_SIM_OP_OPEN, id, 0);
    std::string source;
    bool stamp = true;
    {
        std::lock_guard<std::mutex> lock(TheService().mutex);
        if (!TheService().initialized || !Known(id) || Unplugged(id)) return Finish(TWINCAM_SIM_OP_OPEN, id, 0);
        if (TheService().cameras[id].open) return Finish(TWINCAM_SIM_OP_OPEN, id, 1);
        source = TheService().source[id];
        stamp = TheService().stamp;
    }
    // A camera whose footage cannot be played does not open; the reason is
    // told once per source, not at every retry.
    std::shared_ptr<Footage> footage;
    if (!source.empty()) {
        std::string why;
        footage = OpenFootage(id, source, stamp, &why);
        if (footage == nullptr) {
            std::lock_guard<std::mutex> lock(TheService().mutex);
            if (TheService().reported[id] != source) {
                std::fprintf(stderr, "twincam-sim: camera %d: cannot play %s: %s\n", id, source.c_str(), why.c_str());
                TheService().reported[id] = source;
            }
            return Finish(TWINCAM_SIM_OP_OPEN, id, 0);
        }
    }
    std::lock_guard<std::mutex> lock(TheService().mutex);
    Sensor &camera = TheService().cameras[id];
    if (!camera.open) {
        camera = Sensor{};
        Rebase(id, camera);
        camera.footage = std::move(footage);
    }
    camera.open = true;
    return Finish(TWINCAM_SIM_OP_OPEN, id, 1);
}

int32_t ServiceSetProperty(int32_t id, int32_t property, void *value) {
    twincam_sim_call call = Call(TWINCAM_SIM_OP_SETPROP, id, 0);
    call.arg[0] = property;
    if (value != nullptr && property == Resolution) {
        const auto *r = static_cast<const CameraResolution *>(value);
        call.arg[1] = r->width;
        call.arg[2] = r->height;
    } else if (value != nullptr && (property == FrameRate || property == Mode)) {
        call.arg[1] = *static_cast<const int32_t *>(value);
    }
    int32_t unused = 0;
    if (TakeFault(TWINCAM_SIM_OP_SETPROP, &unused) || value == nullptr) {
        Journal(call);
        return 0;
    }
    std::lock_guard<std::mutex> lock(TheService().mutex);
    if (TheService().initialized && Known(id) && TheService().cameras[id].open) {
        Sensor &camera = TheService().cameras[id];
        const int32_t a = call.arg[1], b = call.arg[2];
        switch (property) {
            case FrameRate:
                if (twincam_frame_rate_ok(a)) {
                    // A new rate takes effect from now on, without renumbering.
                    camera.fps = a;
                    Rebase(id, camera);
                    call.result = 1;
                }
                break;
            case Resolution:
                if (twincam_frame_size_ok(a, b)) {
                    camera.width = a, camera.height = b, call.result = 1;
                    // Footage starts decoding now, so the first read finds a frame
                    // ready; its frames fall due from when it is, as a sensor's
                    // from when it streams.
                    if (camera.footage && (!camera.scene || camera.scene->width() != a || camera.scene->height() != b)) {
                        camera.scene = nullptr;
                        camera.scene = camera.footage->Play(a, b);
                        Rebase(id, camera);
                    }
                }
                break;
            case Mode:
                if (a == 1) camera.mode = a, call.result = 1;
                break;
            default:
                break;
        }
    }
    Journal(call);
    return call.result;
}

namespace {

// What the camera draws at its current size, started anew when the size changed.
std::shared_ptr<Scene> SceneOf(int32_t id, Sensor &camera) {
    if (!camera.scene || camera.scene->width() != camera.width || camera.scene->height() != camera.height) {
        camera.scene = nullptr;  // a playback's decoder stops before the next starts
        if (camera.footage) camera.scene = camera.footage->Play(camera.width, camera.height);
        else camera.scene = std::make_shared<Pattern>(id, camera.width, camera.height);
    }
    return camera.scene;
}

// The sequence number of the frame a read delivers, and when it falls due
// (now or earlier unless paced): paced, the newest frame already due or else
// the next one. A dropped frame is lost on the sensor: the read gets the one after it.
Clock::time_point NextFrame(Sensor &camera, bool drop, uint64_t *sequence) {
    *sequence = camera.next;
    Clock::time_point due{};
    if (TheService().paced) {
        const auto period = std::chrono::duration<double>(1.0 / camera.fps);
        const auto elapsed = std::chrono::duration<double>(Clock::now() - camera.epoch);
        const auto dueNow = camera.base + static_cast<uint64_t>(std::max(0.0, elapsed / period));
        if (dueNow >= *sequence) *sequence = dueNow;
        if (drop) ++*sequence;
        due = camera.epoch +
              std::chrono::duration_cast<Clock::duration>(period * static_cast<double>(*sequence - camera.base));
    } else if (drop) {
        ++*sequence;
    }
    camera.next = *sequence + 1;
    ++camera.frames;
    return due;
}

}  // namespace

int32_t ServiceRead(int32_t id, void *data, int32_t *size) {
    twincam_sim_call call = Call(TWINCAM_SIM_OP_READ, id, 0);
    call.buffer = BufferNumber(data);
    call.arg[0] = size != nullptr ? *size : 0;
    int32_t fault = TWINCAM_SIM_READ_FAIL;
    const bool faulted = TakeFault(TWINCAM_SIM_OP_READ, &fault);
    if (faulted && fault == TWINCAM_SIM_READ_HANG) Hang();
    std::shared_ptr<Scene> scene;
    uint64_t sequence = 0;
    Clock::time_point due{};
    {
        std::lock_guard<std::mutex> lock(TheService().mutex);
        const bool ready = TheService().initialized && Known(id) && TheService().cameras[id].open && !Unplugged(id);
        Sensor *camera = ready ? &TheService().cameras[id] : nullptr;
        const int32_t bytes = ready ? FrameBytes(camera->width, camera->height) : 0;
        if (!ready || data == nullptr || size == nullptr || *size < bytes ||
            (faulted && fault == TWINCAM_SIM_READ_FAIL)) {
            if (size != nullptr) *size = 0;
            Journal(call);
            return 0;
        }
        scene = SceneOf(id, *camera);
        due = NextFrame(*camera, faulted && fault == TWINCAM_SIM_READ_DROP, &sequence);
    }
    std::this_thread::sleep_until(due);
    const int32_t bytes = FrameBytes(scene->width(), scene->height());
    if (!scene->Draw(static_cast<uint32_t>(sequence), static_cast<uint8_t *>(data))) {
        *size = 0;
        Journal(call);
        return 0;
    }
    int32_t delivered = bytes;
    if (faulted && fault == TWINCAM_SIM_READ_SHORT) delivered = bytes - 1;
    if (faulted && fault == TWINCAM_SIM_READ_LONG) delivered = bytes + 1;  // claims more than it wrote
    *size = delivered;
    call.arg[1] = delivered;
    call.result = 1;
    Journal(call);
    return 1;
}

int32_t ServiceClose(int32_t id) {
    int32_t unused = 0;
    if (TakeFault(TWINCAM_SIM_OP_CLOSE, &unused)) return Finish(TWINCAM_SIM_OP_CLOSE, id, 0);
    std::lock_guard<std::mutex> lock(TheService().mutex);
    // Closing a camera that is not open is refused, as a device does.
    if (!TheService().initialized || !Known(id) || !TheService().cameras[id].open) {
        return Finish(TWINCAM_SIM_OP_CLOSE, id, 0);
    }
    TheService().cameras[id].open = false;
    TheService().cameras[id].scene = nullptr;  // stops a playback's decoder
    return Finish(TWINCAM_SIM_OP_CLOSE, id, 1);
}

void ServiceReset() {
    std::lock_guard<std::mutex> lock(TheService().mutex);
    TheService().initialized = false;
    for (Sensor &camera : TheService().cameras) camera = Sensor{};
    TheService().paced = PaceFromEnvironment();
    for (int32_t id = 0; id < kCameras; ++id) {
        TheService().phaseMs[id] = PhaseFromEnvironment(id);
        TheService().unplug[id] = UnplugFromEnvironment(id);
        TheService().firstOpen[id] = Clock::time_point{};
    }
    TheService().stamp = StampFromEnvironment();
    for (int32_t id = 0; id < kCameras; ++id) {
        TheService().source[id] = SourceFromEnvironment(id);
        TheService().reported[id].clear();
    }
}

}  // namespace twincam::sim

extern "C" TWINCAM_SIM_EXPORT int twincam_sim_camera(int32_t id, twincam_sim_camera_info *out) {
    using namespace twincam::sim;
    if (!Known(id) || out == nullptr) return -1;
    std::lock_guard<std::mutex> lock(TheService().mutex);
    const Sensor &c = TheService().cameras[id];
    *out = twincam_sim_camera_info{c.open ? 1 : 0, c.fps, c.width, c.height, c.mode, c.frames};
    return 0;
}

extern "C" TWINCAM_SIM_EXPORT void twincam_sim_set_pacing(int on) {
    using namespace twincam::sim;
    std::lock_guard<std::mutex> lock(TheService().mutex);
    TheService().paced = on != 0;
}

extern "C" TWINCAM_SIM_EXPORT int twincam_sim_set_phase(int32_t id, double ms) {
    using namespace twincam::sim;
    if (!Known(id)) return -1;
    std::lock_guard<std::mutex> lock(TheService().mutex);
    TheService().phaseMs[id] = ms;
    if (TheService().cameras[id].open) Rebase(id, TheService().cameras[id]);
    return 0;
}

extern "C" TWINCAM_SIM_EXPORT int twincam_sim_set_source(int32_t id, const char *path) {
    using namespace twincam::sim;
    if (!Known(id)) return -1;
    std::lock_guard<std::mutex> lock(TheService().mutex);
    TheService().source[id] = path != nullptr ? path : "";
    TheService().reported[id].clear();
    return 0;
}

extern "C" TWINCAM_SIM_EXPORT int twincam_sim_set_unplug(int32_t id, double at_s, double for_s) {
    using namespace twincam::sim;
    if (!Known(id)) return -1;
    std::lock_guard<std::mutex> lock(TheService().mutex);
    TheService().unplug[id] = Unplug{at_s, for_s};
    TheService().firstOpen[id] = Clock::time_point{};
    return 0;
}
