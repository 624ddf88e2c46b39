// One camera's JPEGs for MJPEG and snapshot clients: while any client wants
// them, a thread of its own encodes the newest frame once for every client;
// a frame a newer one replaces before it is encoded is freed then. A client
// with nothing new to send is parked until the next JPEG is out.
#ifndef TWINCAM_SERVE_JPEG_FRAMES_H
#define TWINCAM_SERVE_JPEG_FRAMES_H

#include <array>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame.h"
#include "stats.h"

namespace twincam::serve {

using common::Clock;

// One encoded frame, shared by every client of its camera.
struct JpegFrame {
    std::string bytes;
    Clock::time_point readAt;
    uint64_t number;
};
using Jpeg = std::shared_ptr<const JpegFrame>;

// The upper bounds of the encode time histogram's buckets, in seconds.
constexpr std::array<double, 8> kEncodeBuckets = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.25};

struct JpegFigures {
    long skipped = 0;  // frames replaced before they were encoded
    double encodeMs = 0, deliveryMsMedian = 0;
    int clients = 0;  // MJPEG and snapshot clients now
    // Encodes by time: per bucket of kEncodeBuckets, then over the last bound.
    std::array<long, kEncodeBuckets.size() + 1> encodeCounts{};
    double encodeSeconds = 0;
};

// What a client is told when it asks for the next JPEG.
enum class NextJpeg { kReady, kParked, kEnded };

class JpegFrames {
public:
    JpegFrames(int camera, int quality) : camera_(camera), quality_(quality) {}
    ~JpegFrames() { Stop(); }
    JpegFrames(const JpegFrames &) = delete;
    JpegFrames &operator=(const JpegFrames &) = delete;

    void Start();
    // Ends every client's stream: parked ones are woken and told kEnded.
    void EndStreams();
    // Ends the streams, then the encoder.
    void Stop();

    // From the reader: the newest frame, taken while a client wants JPEGs.
    void Offer(common::FramePtr frame);

    // A client came (Join) or went (Leave); Join returns the number of the
    // newest JPEG, which a snapshot waits to be passed.
    uint64_t Join();
    void Leave();
    // Without waiting: a JPEG newer than `after` into *jpeg (kReady); or,
    // while the stream goes on, calls park() and keeps wake, called once
    // when a newer one is out or the streams end (kParked); or kEnded.
    NextJpeg NextOrPark(uint64_t after, Jpeg *jpeg, const std::function<void()> &park, std::function<void()> wake);
    // A client finished sending a JPEG: how long after the read it left.
    void Delivered(Clock::time_point readAt);
    JpegFigures Figures();

private:
    void Encode();
    void Publish(std::string bytes, Clock::time_point readAt, Clock::duration took);
    // The parked clients' wake calls, taken with mutex_ held, to be called once it is released.
    std::vector<std::function<void()>> TakeParked();

    const int camera_, quality_;
    std::mutex mutex_;
    std::condition_variable changed_;  // wakes the encoder: a frame pending, or stopping
    common::FramePtr pending_;
    Jpeg jpeg_;
    uint64_t number_ = 0;
    int clients_ = 0;
    bool stopping_ = false, ended_ = false;
    std::vector<std::function<void()>> parked_;
    long skipped_ = 0, encoded_ = 0;
    double encodeMs_ = 0;
    std::array<long, kEncodeBuckets.size() + 1> encodeCounts_{};
    common::RecentValues deliveryMs_{1024};
    std::thread encoder_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_JPEG_FRAMES_H
