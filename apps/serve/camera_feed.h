// One served camera: its reader, the newest frame waiting for its encoder
// (a thread of its own, which turns it into a JPEG once for every client),
// the newest JPEG, and its figures.
#ifndef TWINCAM_SERVE_CAMERA_FEED_H
#define TWINCAM_SERVE_CAMERA_FEED_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_reader.h"
#include "stats.h"

namespace twincam::serve {

using common::Clock;

// One encoded frame, shared by every client of its camera.
struct Encoded {
    std::string bytes;
    Clock::time_point readAt;
    uint64_t number;
};
using Jpeg = std::shared_ptr<const Encoded>;

// A camera's figures at one moment.
struct FeedFigures {
    int id = 0;
    bool open = false;
    long read = 0, skipped = 0;
    long long missed = 0;
    double fps = 0, encodeMs = 0, deliveryMsMedian = 0;
    int clients = 0;
    std::string error;  // empty while it delivers
};

class CameraFeed {
public:
    CameraFeed(int id, int quality);
    ~CameraFeed() { Stop(); }
    int id() const { return reader_.camera(); }

    // Opens the camera and starts the encoder; false (and failed) when the
    // library refused.
    bool Start(int fps, int width, int height);
    // Stops the encoder; the camera stays open until Close.
    void Stop();
    bool Close() { return reader_.Close(); }

    // From the reading thread: reads one frame and hands it to the encoder,
    // replacing one it has not taken. False when the read failed.
    bool ReadOne();
    void Fail(const std::string &why);

    // Waits for a JPEG newer than frame `after` (0: any); nullptr on
    // shutdown, failure or timeout.
    Jpeg Next(uint64_t after, std::chrono::milliseconds timeout);
    // A client finished sending a part: how long after the read it left.
    void Delivered(Clock::time_point readAt);
    FeedFigures Figures();

    std::atomic<int> clients{0};

private:
    void Encode();

    common::FrameReader reader_;  // the reading thread's alone
    const int quality_;
    std::mutex mutex_;
    std::condition_variable changed_;
    common::FramePtr pending_;
    Jpeg jpeg_;
    uint64_t number_ = 0;  // the encoder's alone
    bool stopping_ = false;
    std::string error_;
    long read_ = 0, skipped_ = 0, encoded_ = 0;
    long long missed_ = 0;
    double encodeMs_ = 0;
    common::RateMeter readRate_;
    common::RecentValues deliveryMs_{1024};
    std::thread encoder_;
};

// Reads every started feed in turn until stop; the only thread that reads.
// A feed whose read fails is failed and left out; the others go on.
void ReadFeeds(const std::vector<CameraFeed *> &feeds, const std::atomic<bool> &stop);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_CAMERA_FEED_H
