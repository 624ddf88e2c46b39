// cam<ID>.mp4 per camera: each camera's frames, in the order they were read,
// wrapped (not copied) into a GStreamer pipeline of its own that encodes
// them to H.264 and muxes them into fragmented MP4, which plays up to its
// last whole fragment however the capture ends. A frame's presentation time
// is its read time, so a file with gaps still plays at the speed it was
// recorded.
#include <atomic>
#include <filesystem>

#include "frame_sink.h"
#include "gst_frames.h"
#include "h264_options.h"
#include "mp4_file.h"

namespace twincam::capture {
namespace {

using common::Nanoseconds;

// Frames a camera's encoder may have waiting; past it a writer waits, and
// the writers' queue, not the reader, takes up the slack.
constexpr int kQueuedFrames = 4;
constexpr GstClockTime kFinishTimeout = 60 * GST_SECOND;

class Mp4Video : public FrameSink {
public:
    Mp4Video(std::string dir, std::string encoder, int fps, int segmentSeconds)
        : dir_(std::move(dir)), encoder_(std::move(encoder)), fps_(fps), segmentSeconds_(segmentSeconds) {}
    ~Mp4Video() override { Finish(); }
    const char *name() const override { return "mp4"; }
    long files() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        long files = 0;
        for (const auto &[id, cam] : cameras_) files += segmentSeconds_ > 0 ? cam.pieces.load() : 1;
        return files;
    }
    std::string Write(const Frame &) override { return "mp4 takes frames it can keep"; }
    long saved(int camera) const override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = cameras_.find(camera);
        return it == cameras_.end() || !it->second.saved ? 0 : it->second.saved->Frames();
    }

    std::string Take(const FramePtr &frame) override {
        std::unique_lock<std::mutex> lock(mutex_);
        turns_.Await(lock, *frame);
        Pipeline &cam = cameras_[frame->camera];
        std::string error = cam.error;
        if (error.empty() && cam.pipeline == nullptr) error = Start(cam, *frame);
        if (error.empty()) {
            // Pushing may wait for the encoder: not under the lock, while
            // this camera's next frame waits for its turn all the same.
            lock.unlock();
            error = Push(cam, frame);
            lock.lock();
        }
        if (!error.empty()) cam.error = error;
        turns_.Done(*frame);
        return error;
    }

    std::string Finish() override;

private:
    struct Pipeline {
        GstElement *pipeline = nullptr;
        GstElement *source = nullptr;
        int64_t firstNs = 0;
        std::atomic<long> pieces{0};  // files opened, when cut into pieces
        std::string error;  // once failed, the camera's frames are not added
        std::unique_ptr<common::Mp4Saved> saved;
    };
    // What went wrong in a camera's pipeline, naming the file it writes.
    static std::string Failure(const Pipeline &cam, int camera, const std::string &error);

    std::string Description(int camera) const;
    std::string Start(Pipeline &cam, const Frame &first);
    std::string Push(Pipeline &cam, const FramePtr &frame);
    static std::string Stop(Pipeline &cam);

    std::string dir_, encoder_;
    int fps_, segmentSeconds_;
    mutable std::mutex mutex_;
    CameraTurns turns_;
    std::map<int, Pipeline> cameras_;
};

std::string Mp4Video::Description(int camera) const {
    const std::string stem = (std::filesystem::path(dir_) / ("cam" + std::to_string(camera))).string();
    const GstClockTime segment = static_cast<GstClockTime>(segmentSeconds_) * GST_SECOND;
    return common::H264Head(encoder_) + " ! " +
           common::Mp4FileDescription(stem + (segment > 0 ? "-%05d.mp4" : ".mp4"), segment);
}

std::string Mp4Video::Start(Pipeline &cam, const Frame &first) {
    GError *parseError = nullptr;
    cam.pipeline = gst_parse_launch(Description(first.camera).c_str(), &parseError);
    if (cam.pipeline == nullptr || parseError != nullptr) {
        std::string why = parseError ? parseError->message : "no pipeline";
        if (parseError) g_error_free(parseError);
        if (cam.pipeline) gst_object_unref(cam.pipeline);
        cam.pipeline = nullptr;
        return "mp4: the encoder '" + encoder_ + "' cannot be used: " + why;
    }
    cam.source = gst_bin_get_by_name(GST_BIN(cam.pipeline), "src");
    cam.saved = std::make_unique<common::Mp4Saved>(cam.pipeline);
    if (segmentSeconds_ > 0) {
        // Each piece is counted as the splitter opens it; its name stays the location's.
        GstElement *splitter = gst_bin_get_by_name(GST_BIN(cam.pipeline), "file");
        g_signal_connect(splitter, "format-location", G_CALLBACK(+[](GstElement *, guint, std::atomic<long> *pieces) {
                             ++*pieces;
                             return static_cast<gchar *>(nullptr);
                         }),
                         &cam.pieces);
        gst_object_unref(splitter);
    }
    common::ConfigureFrameSource(cam.source, first.width, first.height, fps_, kQueuedFrames,
                                 common::FrameUse::kRecording);
    cam.firstNs = Nanoseconds(first.readAt);
    if (gst_element_set_state(cam.pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        return Failure(cam, first.camera, common::BusError(cam.pipeline, 0));
    }
    return {};
}

std::string Mp4Video::Failure(const Pipeline &cam, int camera, const std::string &error) {
    return "mp4: camera " + std::to_string(camera) + ": writing " + cam.saved->Location() + " failed: " + error;
}

std::string Mp4Video::Push(Pipeline &cam, const FramePtr &frame) {
    if (std::string error = common::BusError(cam.pipeline, 0); !error.empty()) return Failure(cam, frame->camera, error);
    GstBuffer *buffer = common::WrapFrame(frame);
    GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(Nanoseconds(frame->readAt) - cam.firstNs);
    if (const std::string error = common::PushWaiting(cam.pipeline, cam.source, buffer, kQueuedFrames); !error.empty()) {
        return Failure(cam, frame->camera, error);
    }
    return {};
}

// The end of the stream lets the muxer write its index: the file plays to
// its last frame and knows its duration.
std::string Mp4Video::Stop(Pipeline &cam) {
    if (cam.pipeline == nullptr) return {};
    gst_app_src_end_of_stream(GST_APP_SRC(cam.source));
    std::string error = common::AwaitEnd(cam.pipeline, kFinishTimeout);
    if (!error.empty()) error = "mp4: " + error;
    gst_element_set_state(cam.pipeline, GST_STATE_NULL);
    gst_object_unref(cam.source);
    gst_object_unref(cam.pipeline);
    cam.pipeline = cam.source = nullptr;
    return error;
}

std::string Mp4Video::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string error;
    for (auto &[id, cam] : cameras_) {
        std::string e = Stop(cam);
        if (error.empty()) error = cam.error.empty() ? e : cam.error;
    }
    return error;
}

}  // namespace

std::unique_ptr<FrameSink> MakeMp4Video(const std::string &dir, const std::string &encoder, int fps,
                                        int segmentSeconds, std::string *error) {
    common::InitGStreamer();
    *error = common::CheckH264Pipeline({"appsrc", "h264parse", "mp4mux", "splitmuxsink"}, encoder);
    if (!error->empty()) {
        *error = "mp4: " + *error;
        return nullptr;
    }
    return std::make_unique<Mp4Video>(dir, encoder, fps, segmentSeconds);
}

}  // namespace twincam::capture
