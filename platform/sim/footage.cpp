// Recorded footage for the simulated cameras: a video file in any container
// and codec FFmpeg's libraries read, or a directory of PNG or JPEG images in
// name order. A thread decodes and scales ahead of the reader, so a read
// never waits for decoding; the footage loops at its end.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "pattern.h"
#include "scene.h"

namespace twincam::sim {
namespace {

namespace fs = std::filesystem;

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// One input: the pictures of its best video stream, in order.
class Decoder {
public:
    ~Decoder() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
    }

    bool Open(const std::string &path, std::string *why) {
        if (int rc = avformat_open_input(&format_, path.c_str(), nullptr, nullptr); rc < 0) {
            *why = AvError(rc);
            return false;
        }
        if (int rc = avformat_find_stream_info(format_, nullptr); rc < 0) {
            *why = AvError(rc);
            return false;
        }
        const AVCodec *codec = nullptr;
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (stream_ < 0 || codec == nullptr) {
            *why = stream_ == AVERROR_DECODER_NOT_FOUND ? "no decoder for its video stream" : "no video stream";
            return false;
        }
        codec_ = avcodec_alloc_context3(codec);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (codec_ == nullptr || packet_ == nullptr || frame_ == nullptr) {
            *why = "out of memory";
            return false;
        }
        avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar);
        codec_->thread_count = 0;  // as many as help
        if (int rc = avcodec_open2(codec_, codec, nullptr); rc < 0) {
            *why = AvError(rc);
            return false;
        }
        return true;
    }

    // The next picture, or nullptr at the end (or on an error).
    const AVFrame *Next() {
        for (;;) {
            const int rc = avcodec_receive_frame(codec_, frame_);
            if (rc == 0) return frame_;
            if (rc != AVERROR(EAGAIN) || draining_) return nullptr;
            const int read = av_read_frame(format_, packet_);
            if (read < 0) {
                draining_ = true;
                avcodec_send_packet(codec_, nullptr);
                continue;
            }
            if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_);
            av_packet_unref(packet_);
        }
    }

private:
    AVFormatContext *format_ = nullptr;
    AVCodecContext *codec_ = nullptr;
    AVPacket *packet_ = nullptr;
    AVFrame *frame_ = nullptr;
    int stream_ = -1;
    bool draining_ = false;
};

bool IsImage(const fs::path &p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".png" || ext == ".jpg" || ext == ".jpeg";
}

// The pictures of a source, without end: a file played again and again, or
// the images of a directory in name order, round and round.
class Pictures {
public:
    explicit Pictures(std::vector<std::string> files) : files_(std::move(files)) {}

    // Opens the next input and checks it holds a picture.
    bool Start(std::string *why) {
        decoder_ = std::make_unique<Decoder>();
        const std::string &path = files_[index_];
        index_ = (index_ + 1) % files_.size();
        if (!decoder_->Open(path, why)) {
            *why = path + ": " + *why;
            return false;
        }
        return true;
    }

    const AVFrame *Next(std::string *why) {
        if (decoder_) {
            if (const AVFrame *f = decoder_->Next()) return f;
        }
        // At the end of one input: the next one, or this one again.
        for (size_t tries = 0; tries < files_.size(); ++tries) {
            if (!Start(why)) return nullptr;
            if (const AVFrame *f = decoder_->Next()) return f;
        }
        *why = "no picture could be decoded";
        return nullptr;
    }

private:
    std::vector<std::string> files_;
    size_t index_ = 0;
    std::unique_ptr<Decoder> decoder_;
};

// Plays footage at one size: decodes, scales and stamps frames 0, 1, 2, ...
// ahead of the reader, a few at a time.
class Playback : public Scene {
public:
    Playback(int32_t camera, std::vector<std::string> files, bool stamp, int32_t width, int32_t height)
        : camera_(camera), stamp_(stamp), width_(width), height_(height), pictures_(std::move(files)) {
        thread_ = std::thread([this] { Run(); });
        // Like a sensor that streams once configured: the first frame is ready.
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return failed_ || !ready_.empty(); });
    }
    ~Playback() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
        sws_freeContext(sws_);
    }
    int32_t width() const override { return width_; }
    int32_t height() const override { return height_; }

    bool Draw(uint32_t sequence, uint8_t *out) override {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            // Frames before this one were skipped by a late reader.
            while (!ready_.empty() && ready_.front().number < sequence) Recycle(lock);
            if (failed_) return false;
            if (!ready_.empty()) break;
            changed_.wait(lock);
        }
        const std::vector<uint8_t> &bytes = ready_.front().bytes;
        std::copy(bytes.begin(), bytes.end(), out);
        Recycle(lock);
        return true;
    }

private:
    struct Frame {
        uint64_t number;
        std::vector<uint8_t> bytes;
    };
    static constexpr size_t kAhead = 6;  // absorbs a slow picture (a key frame) at 30 fps

    void Recycle(std::unique_lock<std::mutex> &) {
        spare_.push_back(std::move(ready_.front().bytes));
        ready_.pop_front();
        changed_.notify_all();
    }

    void Run() {
        const size_t bytes = static_cast<size_t>(FrameBytes(width_, height_));
        for (uint64_t number = 0;; ++number) {
            std::vector<uint8_t> out;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || ready_.size() < kAhead; });
                if (stop_) return;
                if (!spare_.empty()) {
                    out = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            out.resize(bytes);
            std::string why;
            const AVFrame *picture = pictures_.Next(&why);
            if (picture == nullptr || !Convert(picture, out.data())) {
                std::fprintf(stderr, "twincam-sim: camera %d: footage stopped: %s\n", camera_,
                             why.empty() ? "a picture could not be converted" : why.c_str());
                std::lock_guard<std::mutex> lock(mutex_);
                failed_ = true;
                changed_.notify_all();
                return;
            }
            if (stamp_) DrawStamp(camera_, static_cast<uint32_t>(number), width_, height_, out.data());
            std::lock_guard<std::mutex> lock(mutex_);
            ready_.push_back({number, std::move(out)});
            changed_.notify_all();
        }
    }

    bool Convert(const AVFrame *f, uint8_t *out) {
        sws_ = sws_getCachedContext(sws_, f->width, f->height, static_cast<AVPixelFormat>(f->format), width_,
                                    height_, AV_PIX_FMT_NV12, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (sws_ == nullptr) return false;
        uint8_t *planes[4] = {out, out + static_cast<size_t>(width_) * static_cast<size_t>(height_), nullptr,
                              nullptr};
        const int strides[4] = {width_, width_, 0, 0};
        return sws_scale(sws_, f->data, f->linesize, 0, f->height, planes, strides) == height_;
    }

    const int32_t camera_;
    const bool stamp_;
    const int32_t width_, height_;
    Pictures pictures_;  // the decoding thread's alone
    SwsContext *sws_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Frame> ready_;
    std::vector<std::vector<uint8_t>> spare_;
    bool failed_ = false;
    bool stop_ = false;
    std::thread thread_;
};

class FileFootage : public Footage {
public:
    FileFootage(int32_t camera, std::vector<std::string> files, bool stamp)
        : camera_(camera), files_(std::move(files)), stamp_(stamp) {}
    std::shared_ptr<Scene> Play(int32_t width, int32_t height) override {
        return std::make_shared<Playback>(camera_, files_, stamp_, width, height);
    }

private:
    int32_t camera_;
    std::vector<std::string> files_;
    bool stamp_;
};

}  // namespace

namespace {

Footage *Open(int32_t camera, const std::string &path, bool stamp, std::string *why) {
    std::error_code ec;
    std::vector<std::string> files;
    if (fs::is_directory(path, ec)) {
        for (const auto &entry : fs::directory_iterator(path, ec)) {
            if (entry.is_regular_file() && IsImage(entry.path())) files.push_back(entry.path().string());
        }
        if (ec) {
            *why = ec.message();
            return nullptr;
        }
        if (files.empty()) {
            *why = "the directory holds no PNG or JPEG images";
            return nullptr;
        }
        std::sort(files.begin(), files.end());
    } else if (!fs::exists(path, ec)) {
        *why = "no such file or directory";
        return nullptr;
    } else {
        files.push_back(path);
    }
    // Every input must hold a picture, so a bad one is refused now, at the open.
    for (const std::string &file : files) {
        Decoder decoder;
        if (!decoder.Open(file, why) || decoder.Next() == nullptr) {
            if (why->empty()) *why = "no picture could be decoded";
            if (files.size() > 1) *why = file + ": " + *why;
            return nullptr;
        }
    }
    return new FileFootage(camera, std::move(files), stamp);
}

}  // namespace
}  // namespace twincam::sim

// The module's one entry point, found by the stand-ins with dlsym: a new
// Footage (the caller owns it), or nullptr with the reason in why.
extern "C" __attribute__((visibility("default"))) twincam::sim::Footage *twincam_sim_footage_open(
    int32_t camera, const char *path, int stamp, char *why, size_t whylen) {
    std::string reason;
    twincam::sim::Footage *footage = twincam::sim::Open(camera, path, stamp != 0, &reason);
    if (footage == nullptr) std::snprintf(why, whylen, "%s", reason.c_str());
    return footage;
}
