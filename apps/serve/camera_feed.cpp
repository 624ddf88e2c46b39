#include "camera_feed.h"

#include "jpeg_encoder.h"

namespace twincam::serve {
namespace {
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
}  // namespace

CameraFeed::CameraFeed(int id, int quality) : reader_(id, false), quality_(quality) {}

bool CameraFeed::Start(int fps, int width, int height) {
    if (!reader_.Open(fps, width, height)) {
        Fail("opening camera " + std::to_string(id()) + " failed; the library's report says why");
        return false;
    }
    encoder_ = std::thread([this] { Encode(); });
    return true;
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
    if (streamsEnded_ || !error_.empty()) return NextJpeg::kEnded;
    if (jpeg_ && jpeg_->number > after) {
        *jpeg = jpeg_;
        return NextJpeg::kReady;
    }
    // Parked before the wake is kept: a wake always follows its park.
    park();
    parked_.push_back(std::move(wake));
    return NextJpeg::kParked;
}

bool CameraFeed::ReadOne() {
    common::FramePtr frame = reader_.Read();
    if (frame == nullptr) {
        Fail("reading camera " + std::to_string(id()) + " failed; the library's report says why");
        return false;
    }
    {
        std::lock_guard<std::mutex> taps(tapsMutex_);
        for (auto &[id, tap] : taps_) tap(frame);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++read_;
    missed_ += frame->missed;
    readRate_.Add(frame->readAt);
    if (pending_) ++skipped_;
    pending_ = std::move(frame);  // a frame replaced unencoded is freed here
    changed_.notify_all();
    return true;
}

void CameraFeed::Fail(const std::string &why) {
    std::vector<std::function<void()>> parked;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = why;
        parked = TakeParked();
    }
    for (auto &wake : parked) wake();
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

bool CameraFeed::Failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !error_.empty();
}

FeedFigures CameraFeed::Figures() {
    std::lock_guard<std::mutex> lock(mutex_);
    FeedFigures f;
    f.id = id();
    f.open = error_.empty();
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
            Fail(error);
            break;
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
    std::vector<CameraFeed *> live = feeds;
    while (!stop.load() && !live.empty()) {
        for (auto it = live.begin(); it != live.end() && !stop.load();) {
            // A failed camera is closed with the rest at the end.
            it = (*it)->ReadOne() ? it + 1 : live.erase(it);
        }
    }
}

}  // namespace twincam::serve
