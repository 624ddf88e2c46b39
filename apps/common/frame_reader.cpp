#include "frame_reader.h"

#include "library_lock.h"

namespace twincam::common {

FrameReader::FrameReader(int camera, bool keepLatencies)
    : camera_(camera), keepLatencies_(keepLatencies), stamps_(camera) {}

FrameReader::~FrameReader() { Close(); }

template <typename Call>
auto FrameReader::InCall(Call &&call) {
    callSince_.store(Clock::now().time_since_epoch().count());
    auto result = Locked(call);
    callSince_.store(0);
    return result;
}

Clock::duration FrameReader::InCallFor(Clock::time_point now) const {
    const Clock::rep since = callSince_.load();
    return since == 0 ? Clock::duration::zero() : now - Clock::time_point(Clock::duration(since));
}

bool FrameReader::Open(int fps, int width, int height) {
    if (InCall([&] { return OpenCameraEx(camera_, fps, width, height); }) != 0) return false;
    open_ = true;
    return true;
}

bool FrameReader::Close() {
    if (!open_) return true;
    open_ = false;
    return InCall([&] { return CloseCameraEx(camera_); }) == 0;
}

FramePtr FrameReader::Read(long pair) {
    CameraFrame delivered{};
    CameraRecord record{};
    const Clock::time_point start = Clock::now();
    const int32_t result = InCall([&] {
        record = g_CameraMgr.cameras[camera_];
        return ReadCameraFrame(camera_, &delivered);
    });
    if (result != 0) return nullptr;
    Frame f;
    f.readAt = Clock::now();
    f.wallAt = WallClock::now();
    if (keepLatencies_) latencyMs_.push_back(std::chrono::duration<double, std::milli>(f.readAt - start).count());
    const StampTracker::Seen seen = stamps_.Track(delivered.data, record.width, record.height);
    f.camera = camera_;
    f.width = record.width;
    f.height = record.height;
    f.sequence = seen.sequence;
    f.missed = seen.missed;
    f.index = handedOn_;
    f.pair = pair;
    ++read_;
    bytes_ += delivered.size;
    return AdoptFrame(delivered, f);
}

}  // namespace twincam::common
