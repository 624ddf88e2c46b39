#include "jpeg_frames.h"

#include <cstdio>

#include "jpeg_encoder.h"
#include "log.h"

namespace twincam::serve {

void JpegFrames::Start() {
    encoder_ = std::thread([this] { Encode(); });
}

void JpegFrames::EndStreams() {
    std::vector<std::function<void()>> parked;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        parked = TakeParked();
    }
    for (auto &wake : parked) wake();
}

void JpegFrames::Stop() {
    EndStreams();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (encoder_.joinable()) encoder_.join();
}

std::vector<std::function<void()>> JpegFrames::TakeParked() {
    std::vector<std::function<void()>> parked;
    parked.swap(parked_);
    return parked;
}

void JpegFrames::Offer(common::FramePtr frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (clients_ == 0) return;  // nobody wants JPEGs: not encoded at all
    if (pending_ && !frame->placeholder) ++skipped_;
    pending_ = std::move(frame);  // a frame replaced unencoded is freed here
    changed_.notify_all();
}

uint64_t JpegFrames::Join() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++clients_;
    return number_;
}

void JpegFrames::Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--clients_ == 0) pending_.reset();
}

NextJpeg JpegFrames::NextOrPark(uint64_t after, Jpeg *jpeg, const std::function<void()> &park,
                                std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return NextJpeg::kEnded;
    if (jpeg_ && jpeg_->number > after) {
        *jpeg = jpeg_;
        return NextJpeg::kReady;
    }
    // Parked before the wake is kept: a wake always follows its park.
    park();
    parked_.push_back(std::move(wake));
    return NextJpeg::kParked;
}

void JpegFrames::Delivered(Clock::time_point readAt) {
    std::lock_guard<std::mutex> lock(mutex_);
    deliveryMs_.Add(std::chrono::duration<double, std::milli>(Clock::now() - readAt).count());
}

JpegFigures JpegFrames::Figures() {
    std::lock_guard<std::mutex> lock(mutex_);
    JpegFigures f;
    f.skipped = skipped_;
    f.encodeMs = encoded_ > 0 ? encodeMs_ / static_cast<double>(encoded_) : 0.0;
    f.deliveryMsMedian = deliveryMs_.Summary().median;
    f.clients = clients_;
    f.encodeCounts = encodeCounts_;
    f.encodeSeconds = encodeMs_ / 1000.0;
    return f;
}

void JpegFrames::Encode() {
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
            Log("camera %d: a frame was not encoded: %s", camera_, error.c_str());
            continue;
        }
        Publish(std::move(bytes), readAt, Clock::now() - t0);
    }
}

void JpegFrames::Publish(std::string bytes, Clock::time_point readAt, Clock::duration took) {
    std::vector<std::function<void()>> parked;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const double seconds = std::chrono::duration<double>(took).count();
        encodeMs_ += seconds * 1000.0;
        ++encoded_;
        size_t bucket = 0;
        while (bucket < kEncodeBuckets.size() && seconds > kEncodeBuckets[bucket]) ++bucket;
        ++encodeCounts_[bucket];
        jpeg_ = std::make_shared<const JpegFrame>(JpegFrame{std::move(bytes), readAt, ++number_});
        parked = TakeParked();
    }
    for (auto &wake : parked) wake();
}

}  // namespace twincam::serve
