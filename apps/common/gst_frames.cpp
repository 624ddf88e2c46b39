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
                 static_cast<guint64>(maxBuffers), "max-bytes", static_cast<guint64>(0), "block", !live,
                 "leaky-type", live ? GST_APP_LEAKY_TYPE_DOWNSTREAM : GST_APP_LEAKY_TYPE_NONE, nullptr);
    gst_caps_unref(caps);
}

bool HaveElements(std::initializer_list<const char *> names, std::string *missing) {
    for (const char *name : names) {
        GstElementFactory *factory = gst_element_factory_find(name);
        if (factory == nullptr) {
            *missing = name;
            return false;
        }
        gst_object_unref(factory);
    }
    return true;
}

std::string BusError(GstElement *pipeline, GstClockTime timeout) {
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(bus, timeout, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (msg == nullptr) return "";
    GError *error = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(msg, &error, &debug);
    std::string text = std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(msg))) + ": " + error->message;
    g_error_free(error);
    g_free(debug);
    gst_message_unref(msg);
    return text;
}

}  // namespace twincam::common
