// One camera as the server serves it: its source (read, reopened, "no
// signal" while down) and the encoders fed from it, each running only while
// a front end wants it: JPEG for MJPEG and snapshot clients, one H.264
// encoder shared by every H.264 front end (RTSP, the recorder). Front ends
// attach through these methods and never reach further in.
#ifndef TWINCAM_SERVE_CHANNEL_H
#define TWINCAM_SERVE_CHANNEL_H

#include <functional>
#include <mutex>
#include <vector>

#include "camera_source.h"
#include "figures.h"
#include "h264_encoder.h"
#include "jpeg_frames.h"

namespace twincam::serve {

class Channel {
public:
    struct Settings {
        common::CameraLink::Settings camera;
        int quality = 80;
        H264Encoder::Settings h264;
    };

    Channel(int camera, const Settings &settings);
    ~Channel() { Stop(); }
    Channel(const Channel &) = delete;
    Channel &operator=(const Channel &) = delete;
    int id() const { return source_.camera(); }

    // Starts the JPEG encoder and opens the camera; false when it is not
    // there (it is then tried again and again; its clients see "no signal").
    bool Start();
    // Stops the encoders; the camera stays open until Close.
    void Stop();
    bool Close() { return source_.Close(); }
    // From the reader: one step of the source (CameraSource::Step).
    Clock::time_point Step() { return source_.Step(); }

    bool up() { return source_.up(); }
    Clock::duration StuckFor(Clock::time_point now) const { return source_.StuckFor(now); }

    JpegFrames &jpeg() { return jpeg_; }
    H264Encoder &h264() { return h264_; }
    // state(up) is called on the reader's thread whenever the camera goes
    // down or comes back, until Unwatch(returned id) returns.
    int Watch(std::function<void(bool up)> state);
    void Unwatch(int id) { source_.Unsubscribe(id); }

    // A front end's figures of this camera are added to the channel's own.
    using FigureSource = std::function<void(ChannelFigures &)>;
    void AddFigures(FigureSource source);
    ChannelFigures Figures();

private:
    CameraSource source_;
    JpegFrames jpeg_;
    H264Encoder h264_;
    std::mutex figuresMutex_;
    std::vector<FigureSource> figureSources_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_CHANNEL_H
