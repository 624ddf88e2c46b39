// One camera's H.264 encoder, shared by every H.264 front end (RTSP, the
// recorder): appsrc, the --encoder fragment, h264parse and an appsink. It
// runs while at least one consumer is attached; frames go in from the
// reader, their dvpp buffers wrapped, not copied, and each access unit that
// comes out is handed to every consumer, on the encoder's own thread.
// Consumers start at a key frame, which is asked for when one attaches.
#ifndef TWINCAM_SERVE_H264_ENCODER_H
#define TWINCAM_SERVE_H264_ENCODER_H

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "frame.h"

struct _GstBuffer;
struct _GstCaps;
struct _GstElement;

namespace twincam::serve {

using common::Clock;

// One access unit: byte-stream H.264, SPS and PPS before every key frame.
struct EncodedFrame {
    _GstBuffer *buffer = nullptr;  // the consumer refs it to keep it
    _GstCaps *caps = nullptr;
    Clock::time_point readAt{};  // its frame's read time
    common::WallClock::time_point wallAt{};
    bool key = false;
    bool placeholder = false;  // "no signal", not the camera's
};

class H264Encoder {
public:
    struct Settings {
        std::string encoder;  // the launch fragment, NV12 to H.264
        int fps = 30, width = 0, height = 0;
    };
    using Consumer = std::function<void(const EncodedFrame &)>;

    H264Encoder(int camera, Settings settings);
    ~H264Encoder();
    H264Encoder(const H264Encoder &) = delete;
    H264Encoder &operator=(const H264Encoder &) = delete;

    // consumer gets every access unit from the next key frame on until
    // Detach(returned id) returns; from any thread.
    int Attach(Consumer consumer);
    void Detach(int id);
    // The next frame encoded is a key frame.
    void KeyFrame();

    // From the reader: starts or stops the pipeline as consumers came and
    // went, then hands it the frame while one is attached.
    void Push(const common::FramePtr &frame);
    // Stops the pipeline (the reader has stopped).
    void Stop();

    bool running() const { return running_.load(); }
    long encoded() const { return encoded_.load(); }  // access units handed out, in all

private:
    struct Pending {
        int64_t pts;
        common::WallClock::time_point wallAt;
        bool placeholder;
    };
    struct Attached {
        Consumer consumer;
        bool started = false;  // has had its first key frame
    };
    bool Start(const common::Frame &first);
    void Deliver(_GstBuffer *buffer, _GstCaps *caps, int64_t pts);
    Clock::time_point Epoch() const { return Clock::time_point(Clock::duration(epoch_.load())); }

    const int camera_;
    const Settings settings_;
    // Lock order: consumersMutex_ (held while consumers run) before pendingMutex_.
    std::mutex consumersMutex_;
    std::map<int, Attached> consumers_;
    int nextId_ = 0;
    std::atomic<int> attached_{0};
    std::atomic<bool> keyWanted_{false}, running_{false};
    std::atomic<long> encoded_{0};
    std::mutex pendingMutex_;
    std::deque<Pending> pending_;  // frames in the encoder, by pts
    // The reader's alone:
    _GstElement *pipeline_ = nullptr, *source_ = nullptr, *sink_ = nullptr;
    std::atomic<Clock::rep> epoch_{0};  // read time of pts 0, read on the encoder's thread too
    Clock::time_point retryAt_{};  // after a failure, when to try again
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_H264_ENCODER_H
