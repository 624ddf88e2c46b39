// The H.264 encoder the programs share, named in one place: a GStreamer
// fragment from NV12 to H.264, by default x264 tuned for live video with a
// key frame every second, so that a viewer who joins sees a picture within
// one. --encoder puts a device's own encoder in its place.
#ifndef TWINCAM_APPS_H264_OPTIONS_H
#define TWINCAM_APPS_H264_OPTIONS_H

#include <CLI/CLI.hpp>

#include <string>

namespace twincam::common {

constexpr const char *kDefaultEncoder = "x264enc tune=zerolatency speed-preset=ultrafast";

struct H264Options {
    std::string encoder = kDefaultEncoder;
    int bitrateKbps = 4000;
};

inline void AddH264Options(CLI::App &app, H264Options &opt) {
    app.add_option("--encoder", opt.encoder,
                   "GStreamer fragment that turns NV12 into H.264 (a key frame at least every second); "
                   "--bitrate and the key frame interval are set only on the default")
        ->capture_default_str();
    app.add_option("--bitrate", opt.bitrateKbps, "H.264 bitrate of the default encoder, kbit/s")
        ->check(CLI::Range(100, 100000))
        ->capture_default_str();
}

// The head of every H.264 pipeline of ours: NV12 frames into an appsrc
// named "src", the encoder fragment, and h264parse, whose output follows.
inline std::string H264Head(const std::string &encoderFragment) {
    return "appsrc name=src ! " + encoderFragment + " ! h264parse";
}

// The encoder as a launch fragment for frames at fps. The default encodes
// each frame as one slice on one thread: ffmpeg's RTSP reader corrupts the
// frames x264's sliced threads make, and frame threads would add a frame of
// latency per thread; each camera has an encoder of its own anyway.
inline std::string EncoderFragment(const H264Options &opt, int fps) {
    if (opt.encoder != kDefaultEncoder) return opt.encoder;
    return opt.encoder + " sliced-threads=false threads=1 bitrate=" + std::to_string(opt.bitrateKbps) +
           " key-int-max=" + std::to_string(fps);
}

}  // namespace twincam::common

#endif  // TWINCAM_APPS_H264_OPTIONS_H
