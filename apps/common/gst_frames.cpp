#include "gst_frames.h"

#include <mutex>

namespace twincam::common {

void InitGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

GstBuffer *WrapFrame(FramePtr frame) {
    auto *held = new FramePtr(std::move(frame));
    const Frame &f = **held;
    return gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<uint8_t *>(f.data), f.size, 0, f.size,
                                       held, [](gpointer p) { delete static_cast<FramePtr *>(p); });
}

void ConfigureFrameSource(GstElement *appsrc, int width, int height, int fps, int maxBuffers, FrameUse use) {
    const bool live = use == FrameUse::kLiveView;
    GstCaps *caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "NV12", "width", G_TYPE_INT, width,
                                        "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, fps, 1,
                                        nullptr);
    g_object_set(appsrc, "caps", caps, "format", GST_FORMAT_TIME, "is-live", live, "max-buffers",
                 static_cast<guint64>(maxBuffers), "max-bytes", static_cast<guint64>(0), "block", FALSE,
                 "leaky-type", live ? GST_APP_LEAKY_TYPE_DOWNSTREAM : GST_APP_LEAKY_TYPE_NONE, nullptr);
    gst_caps_unref(caps);
}

std::string PushWaiting(GstElement *pipeline, GstElement *appsrc, GstBuffer *buffer, int maxBuffers) {
    while (gst_app_src_get_current_level_buffers(GST_APP_SRC(appsrc)) >= static_cast<guint64>(maxBuffers)) {
        if (std::string error = BusError(pipeline, 0); !error.empty()) {
            gst_buffer_unref(buffer);
            return error;
        }
        g_usleep(2000);
    }
    if (gst_app_src_push_buffer(GST_APP_SRC(appsrc), buffer) == GST_FLOW_OK) return "";
    const std::string error = BusError(pipeline, 0);
    return error.empty() ? "the encoder stopped" : error;
}

std::string CheckH264Pipeline(std::initializer_list<const char *> elements, const std::string &encoder) {
    for (const char *name : elements) {
        GstElementFactory *factory = gst_element_factory_find(name);
        if (factory == nullptr) {
            return std::string("GStreamer's ") + name +
                   " is not installed (gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad)";
        }
        gst_object_unref(factory);
    }
    GError *wrong = nullptr;
    GstElement *bin = gst_parse_bin_from_description(encoder.c_str(), TRUE, &wrong);
    if (bin != nullptr) gst_object_unref(bin);
    if (wrong == nullptr) return "";
    std::string why = "--encoder '" + encoder + "': " + wrong->message;
    g_error_free(wrong);
    return why;
}

namespace {

// An error message as "element: reason"; takes the message.
std::string ErrorText(GstMessage *msg) {
    GError *error = nullptr;
    gst_message_parse_error(msg, &error, nullptr);
    std::string text = std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(msg))) + ": " + error->message;
    g_error_free(error);
    gst_message_unref(msg);
    return text;
}

GstMessage *Pop(GstElement *pipeline, GstClockTime timeout, GstMessageType types) {
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(bus, timeout, types);
    gst_object_unref(bus);
    return msg;
}

}  // namespace

std::string BusError(GstElement *pipeline, GstClockTime timeout) {
    GstMessage *msg = Pop(pipeline, timeout, GST_MESSAGE_ERROR);
    return msg == nullptr ? "" : ErrorText(msg);
}

std::string AwaitEnd(GstElement *pipeline, GstClockTime timeout) {
    GstMessage *msg = Pop(pipeline, timeout, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (msg == nullptr) return "the stream did not end in time";
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) return ErrorText(msg);
    gst_message_unref(msg);
    return "";
}

}  // namespace twincam::common
