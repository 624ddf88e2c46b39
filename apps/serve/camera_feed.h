// One served camera: its link (read while it delivers, reopened while it
// is down, with a "no signal" picture in its place meanwhile), the newest
// frame waiting for its encoder (a thread of its own, which turns it into a
// JPEG once for every client), the newest JPEG, and its figures.
#ifndef TWINCAM_SERVE_CAMERA_FEED_H
#define TWINCAM_SERVE_CAMERA_FEED_H

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "camera_link.h"
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

// The upper bounds of the encode time histogram's buckets, in seconds.
constexpr std::array<double, 8> kEncodeBuckets = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.25};

// A camera's figures at one moment.
struct FeedFigures {
    int id = 0;
    bool open = false;  // delivering; false while reconnecting
    long failures = 0, reopens = 0;
    common::WallClock::time_point downSince{};  // while reconnecting
    long read = 0, skipped = 0;
    long long missed = 0;
    double fps = 0, encodeMs = 0, deliveryMsMedian = 0;
    int clients = 0;
    std::string error;  // why it is down; empty while it delivers
    // The RTSP side: its address, clients playing, whether the H.264
    // encoder runs, and how long after the read a frame's packets left.
    std::string rtspUrl;
    int rtspClients = 0;
    bool h264Running = false;
    double sentMsMedian = 0, sentMsP99 = 0;
    // Encodes by time: per bucket of kEncodeBuckets, then over the last bound.
    std::array<long, kEncodeBuckets.size() + 1> encodeCounts{};
    double encodeSeconds = 0;
};

// What a stream client is told when it asks for the next JPEG.
enum class NextJpeg { kReady, kParked, kEnded };

class CameraFeed {
public:
    CameraFeed(int id, int quality, const common::CameraLink::Settings &camera);
    ~CameraFeed() { Stop(); }
    int id() const { return link_.camera(); }

    // Starts the encoder and opens the camera; false when the open failed
    // (the camera is then tried again by Step, and shows "no signal").
    bool Start();
    // Stops the encoder; the camera stays open until Close.
    void Stop();
    bool Close() { return link_.Close(); }

    // From the reading thread. While the camera delivers: reads one frame
    // and hands it on (replacing one the encoder has not taken) and returns
    // now. While it is down: tries to reopen it when a try is due, hands on
    // a "no signal" picture when one is due, and returns when it next wants
    // a step.
    Clock::time_point Step();
    // Whether the camera delivers (not down and retried); from any thread.
    bool up();
    // How long the reader has been inside one call into the library for
    // this camera (zero when it is not in one); from any thread.
    Clock::duration StuckFor(Clock::time_point now) const { return link_.reader().InCallFor(now); }

    // Without waiting: a JPEG newer than `after` into *jpeg (kReady); or,
    // while the feed goes on, calls park() and keeps wake, called once when
    // a newer one is out or the feed ends (kParked); or kEnded.
    NextJpeg NextOrPark(uint64_t after, Jpeg *jpeg, const std::function<void()> &park,
                        std::function<void()> wake);
    // Ends every stream: parked clients are woken and told kEnded from now on.
    void EndStreams();
    // A client finished sending a part: how long after the read it left.
    void Delivered(Clock::time_point readAt);

    // Every frame as it is read, on the reading thread, for the H.264
    // streams: tap(frame) is called until RemoveTap(returned id) returns.
    using Tap = std::function<void(const common::FramePtr &)>;
    int AddTap(Tap tap);
    void RemoveTap(int id);
    // A frame's RTP packets left, for the RTSP figures.
    void Sent(Clock::time_point readAt);
    void SetRtspUrl(std::string url);
    FeedFigures Figures();

    std::atomic<int> clients{0};
    std::atomic<int> rtspClients{0};
    std::atomic<bool> h264Running{false};

private:
    void Hand(common::FramePtr frame);
    void Changed(common::CameraLink::Change change);
    void Encode();
    void Publish(std::string bytes, Clock::time_point readAt, Clock::duration took);
    // The parked clients' wake calls, taken with mutex_ held, to be called
    // once it is released.
    std::vector<std::function<void()>> TakeParked();

    common::CameraLink link_;  // the reading thread's alone
    Clock::time_point placeholderDue_{};  // the reading thread's alone
    const int width_, height_, quality_;
    std::mutex mutex_;
    std::condition_variable changed_;  // wakes the encoder: a frame pending, or stopping
    common::FramePtr pending_;
    Jpeg jpeg_;
    uint64_t number_ = 0;  // the encoder's alone
    bool stopping_ = false, streamsEnded_ = false;
    std::vector<std::function<void()>> parked_;
    std::string error_;  // while down
    common::WallClock::time_point downSince_{};
    long failures_ = 0, reopens_ = 0;
    long read_ = 0, skipped_ = 0, encoded_ = 0;
    long long missed_ = 0;
    double encodeMs_ = 0;
    std::array<long, kEncodeBuckets.size() + 1> encodeCounts_{};
    common::RateMeter readRate_;
    common::RecentValues deliveryMs_{1024};
    common::RecentValues sentMs_{1024};
    std::string rtspUrl_;
    std::mutex tapsMutex_;  // held while taps run, so none runs after its removal
    std::map<int, Tap> taps_;
    int nextTap_ = 0;
    std::thread encoder_;
};

// Steps every feed in turn until stop; the only thread that reads. While
// no camera delivers it sleeps until one wants its next step.
void ReadFeeds(const std::vector<CameraFeed *> &feeds, const std::atomic<bool> &stop);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_CAMERA_FEED_H
