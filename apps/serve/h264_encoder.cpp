#include "h264_encoder.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video-event.h>

#include <cstdio>

#include "gst_frames.h"
#include "h264_options.h"
#include "log.h"

namespace twincam::serve {
namespace {
// Frames that may wait for the encoder; a viewer wants the newest, so past
// this the oldest is dropped and a slow encoder never holds up the reader.
constexpr int kQueuedFrames = 2;
constexpr auto kRetryAfter = std::chrono::seconds(1);

int64_t Ns(Clock::duration d) { return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count(); }
}  // namespace

H264Encoder::H264Encoder(int camera, Settings settings) : camera_(camera), settings_(std::move(settings)) {}

H264Encoder::~H264Encoder() { Stop(); }

int H264Encoder::Attach(Consumer consumer) {
    std::lock_guard<std::mutex> lock(consumersMutex_);
    consumers_.emplace(++nextId_, Attached{std::move(consumer)});
    ++attached_;
    keyWanted_ = true;
    return nextId_;
}

void H264Encoder::Detach(int id) {
    std::lock_guard<std::mutex> lock(consumersMutex_);
    if (consumers_.erase(id) > 0) --attached_;
}

void H264Encoder::KeyFrame() { keyWanted_ = true; }

bool H264Encoder::Start(const common::Frame &first) {
    common::InitGStreamer();
    // SPS and PPS before every key frame, so a consumer may start at any.
    const std::string launch = common::H264Head(settings_.encoder) +
                               " config-interval=-1 ! video/x-h264,stream-format=byte-stream,alignment=au"
                               " ! appsink name=sink sync=false";
    GError *error = nullptr;
    pipeline_ = gst_parse_launch(launch.c_str(), &error);
    if (pipeline_ == nullptr || error != nullptr) {
        Log("camera %d: the H.264 encoder cannot be made: %s", camera_,
            error != nullptr ? error->message : "no pipeline");
        if (error != nullptr) g_error_free(error);
        if (pipeline_ != nullptr) gst_object_unref(pipeline_);
        pipeline_ = nullptr;
        return false;
    }
    source_ = gst_bin_get_by_name(GST_BIN(pipeline_), "src");
    sink_ = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
    common::ConfigureFrameSource(source_, settings_.width, settings_.height, settings_.fps, kQueuedFrames,
                                 common::FrameUse::kLiveView);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink *sink, gpointer self) {
        GstSample *sample = gst_app_sink_pull_sample(sink);
        if (sample == nullptr) return GST_FLOW_EOS;
        // Encoders shift their output's times (by 1000 hours, so that no DTS is
        // negative) and say so in the segment: its running time is our pts.
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        const guint64 pts = gst_segment_to_running_time(gst_sample_get_segment(sample), GST_FORMAT_TIME,
                                                        GST_BUFFER_PTS(buffer));
        static_cast<H264Encoder *>(self)->Deliver(buffer, gst_sample_get_caps(sample), static_cast<int64_t>(pts));
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink_), &callbacks, this, nullptr);
    epoch_ = first.readAt.time_since_epoch().count();
    keyWanted_ = false;  // the first frame is a key frame anyway
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        Log("camera %d: the H.264 encoder does not start: %s", camera_, common::BusError(pipeline_, 0).c_str());
        Stop();
        return false;
    }
    running_ = true;
    return true;
}

void H264Encoder::Push(const common::FramePtr &frame) {
    if (attached_.load() == 0) return Stop();
    if (pipeline_ == nullptr && (Clock::now() < retryAt_ || !Start(*frame))) {
        retryAt_ = Clock::now() + kRetryAfter;
        return;
    }
    if (const std::string error = common::BusError(pipeline_, 0); !error.empty()) {
        Log("camera %d: the H.264 encoder failed: %s", camera_, error.c_str());
        Stop();
        retryAt_ = Clock::now() + kRetryAfter;
        return;
    }
    const int64_t pts = std::max<int64_t>(0, Ns(frame->readAt - Epoch()));
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pending_.push_back({pts, frame->wallAt, frame->placeholder});
        if (pending_.size() > 64) pending_.pop_front();
    }
    if (keyWanted_.exchange(false)) {
        gst_element_send_event(sink_, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
    }
    GstBuffer *buffer = common::WrapFrame(frame);
    GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(pts);
    gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);
}

// On the encoder's thread: the frame's times back by its pts (the encoder
// keeps their order and drops none), then to every consumer.
void H264Encoder::Deliver(GstBuffer *buffer, GstCaps *caps, int64_t pts) {
    EncodedFrame f{buffer, caps, Epoch() + std::chrono::nanoseconds(pts), {},
                   !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT), false};
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        while (!pending_.empty() && pending_.front().pts < pts) pending_.pop_front();
        if (!pending_.empty() && pending_.front().pts == pts) {
            f.wallAt = pending_.front().wallAt;
            f.placeholder = pending_.front().placeholder;
            pending_.pop_front();
        }
    }
    ++encoded_;
    std::lock_guard<std::mutex> lock(consumersMutex_);
    for (auto &[id, attached] : consumers_) {
        if (!attached.started && !f.key) continue;
        attached.started = true;
        attached.consumer(f);
    }
}

void H264Encoder::Stop() {
    if (pipeline_ == nullptr) return;
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(source_);
    gst_object_unref(sink_);
    gst_object_unref(pipeline_);
    pipeline_ = source_ = sink_ = nullptr;
    running_ = false;
    std::lock_guard<std::mutex> lock(pendingMutex_);
    pending_.clear();
}

}  // namespace twincam::serve
