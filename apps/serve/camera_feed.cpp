#include "camera_feed.h"

#include <cstdio>

#include "jpeg_encoder.h"
#include "no_signal.h"

namespace twincam::serve {
namespace {
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
}  // namespace

// While a camera is down its viewers get a "no signal" picture this often,
// so that players keep the stream and know why it stands still.
constexpr auto kPlaceholderEvery = std::chrono::milliseconds(500);

CameraFeed::CameraFeed(int id, int quality, const common::CameraLink::Settings &camera)
    : link_(id, camera, false), width_(camera.width), height_(camera.height), quality_(quality) {}

bool CameraFeed::Start() {
    encoder_ = std::thread([this] { Encode(); });
    if (link_.Open()) return true;
    Changed(common::CameraLink::Change::kFailed);
    return false;
}

void CameraFeed::Stop() {
    EndStreams();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (encoder_.joinable()) encoder_.join();
}

std::vector<std::function<void()>> CameraFeed::TakeParked() {
    std::vector<std::function<void()>> parked;
    parked.swap(parked_);
    return parked;
}

void CameraFeed::EndStreams() {
    std::vector<std::function<void()>> parked;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        streamsEnded_ = true;
        parked = TakeParked();
    }
    for (auto &wake : parked) wake();
}

NextJpeg CameraFeed::NextOrPark(uint64_t after, Jpeg *jpeg, const std::function<void()> &park,
                                std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (streamsEnded_) return NextJpeg::kEnded;
    if (jpeg_ && jpeg_->number > after) {
        *jpeg = jpeg_;
        return NextJpeg::kReady;
    }
    // Parked before the wake is kept: a wake always follows its park.
    park();
    parked_.push_back(std::move(wake));
    return NextJpeg::kParked;
}

Clock::time_point CameraFeed::Step() {
    common::CameraLink::Change change = common::CameraLink::Change::kNone;
    common::FramePtr frame = link_.Step(&change);
    if (change != common::CameraLink::Change::kNone) Changed(change);
    const Clock::time_point now = Clock::now();
    if (frame != nullptr) {
        Hand(std::move(frame));
        return now;
    }
    if (link_.up()) return now;
    if (now >= placeholderDue_) {
        Hand(common::NoSignalFrame(id(), width_, height_, now - link_.downSince()));
        placeholderDue_ = now + kPlaceholderEvery;
    }
    return std::min(placeholderDue_, link_.retryAt());
}

bool CameraFeed::up() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_.empty();
}

// To the taps (the H.264 streams), then to the JPEG encoder.
void CameraFeed::Hand(common::FramePtr frame) {
    {
        std::lock_guard<std::mutex> taps(tapsMutex_);
        for (auto &[id, tap] : taps_) tap(frame);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!frame->placeholder) {
        ++read_;
        missed_ += frame->missed;
        readRate_.Add(frame->readAt);
        if (pending_) ++skipped_;
    }
    pending_ = std::move(frame);  // a frame replaced unencoded is freed here
    changed_.notify_all();
}

// One line in the log for each failure and each return, however many tries lie between.
void CameraFeed::Changed(common::CameraLink::Change change) {
    const bool failed = change == common::CameraLink::Change::kFailed;
    if (failed) {
        std::fprintf(stderr, "twincam-serve: camera %d is down (%s); trying to reopen it until it is back\n", id(),
                     link_.error().c_str());
    } else {
        const double down = std::chrono::duration<double>(Clock::now() - link_.downSince()).count();
        std::fprintf(stderr, "twincam-serve: camera %d is back after %.1f s\n", id(), down);
    }
    placeholderDue_ = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = failed ? link_.error() : "";
    downSince_ = link_.downSinceWall();
    failures_ = link_.failures();
    reopens_ = link_.reopens();
}

void CameraFeed::Delivered(Clock::time_point readAt) {
    std::lock_guard<std::mutex> lock(mutex_);
    deliveryMs_.Add(Ms(Clock::now() - readAt));
}

int CameraFeed::AddTap(Tap tap) {
    std::lock_guard<std::mutex> lock(tapsMutex_);
    taps_.emplace(++nextTap_, std::move(tap));
    return nextTap_;
}

void CameraFeed::RemoveTap(int id) {
    std::lock_guard<std::mutex> lock(tapsMutex_);
    taps_.erase(id);
}

void CameraFeed::Sent(Clock::time_point readAt) {
    std::lock_guard<std::mutex> lock(mutex_);
    sentMs_.Add(Ms(Clock::now() - readAt));
}

void CameraFeed::SetRtspUrl(std::string url) {
    std::lock_guard<std::mutex> lock(mutex_);
    rtspUrl_ = std::move(url);
}

FeedFigures CameraFeed::Figures() {
    std::lock_guard<std::mutex> lock(mutex_);
    FeedFigures f;
    f.id = id();
    f.open = error_.empty();
    f.failures = failures_;
    f.reopens = reopens_;
    f.downSince = downSince_;
    f.read = read_;
    f.skipped = skipped_;
    f.missed = missed_;
    f.fps = readRate_.PerSecond();
    f.encodeMs = encoded_ > 0 ? encodeMs_ / static_cast<double>(encoded_) : 0.0;
    f.deliveryMsMedian = deliveryMs_.Summary().median;
    f.clients = clients.load();
    f.error = error_;
    f.encodeCounts = encodeCounts_;
    f.encodeSeconds = encodeMs_ / 1000.0;
    f.rtspUrl = rtspUrl_;
    f.rtspClients = rtspClients.load();
    f.h264Running = h264Running.load();
    const common::Spread sent = sentMs_.Summary();
    f.sentMsMedian = sent.median;
    f.sentMsP99 = sent.p99;
    return f;
}

void CameraFeed::Encode() {
    common::JpegEncoder encoder;
    std::string bytes;
    for (;;) {
        common::FramePtr frame;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || pending_ != nullptr; });
            if (stopping_) break;
            frame = std::move(pending_);
        }
        const Clock::time_point t0 = Clock::now();
        const std::string error = encoder.Encode(frame->view(), quality_, &bytes);
        const Clock::time_point readAt = frame->readAt;
        frame.reset();  // the dvpp buffer goes back before the clients are told
        if (!error.empty()) {
            std::fprintf(stderr, "twincam-serve: camera %d: a frame was not encoded: %s\n", id(), error.c_str());
            continue;
        }
        Publish(std::move(bytes), readAt, Clock::now() - t0);
    }
}

void CameraFeed::Publish(std::string bytes, Clock::time_point readAt, Clock::duration took) {
    std::vector<std::function<void()>> parked;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const double seconds = std::chrono::duration<double>(took).count();
        encodeMs_ += seconds * 1000.0;
        ++encoded_;
        size_t bucket = 0;
        while (bucket < kEncodeBuckets.size() && seconds > kEncodeBuckets[bucket]) ++bucket;
        ++encodeCounts_[bucket];
        jpeg_ = std::make_shared<const Encoded>(Encoded{std::move(bytes), readAt, ++number_});
        parked = TakeParked();
    }
    for (auto &wake : parked) wake();
}

void ReadFeeds(const std::vector<CameraFeed *> &feeds, const std::atomic<bool> &stop) {
    while (!stop.load()) {
        bool delivering = false;
        Clock::time_point wanted = Clock::now() + std::chrono::milliseconds(100);  // stop is looked at this often
        for (CameraFeed *feed : feeds) {
            if (stop.load()) return;
            const Clock::time_point next = feed->Step();
            delivering = delivering || feed->up();
            wanted = std::min(wanted, next);
        }
        // A camera that delivers paces the loop itself; none does: sleep, not spin.
        if (!delivering) std::this_thread::sleep_until(wanted);
    }
}

}  // namespace twincam::serve
