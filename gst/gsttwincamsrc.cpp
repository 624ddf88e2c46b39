// twincamsrc: a live source of NV12 frames from a twincam camera. Each frame
// travels downstream in the dvpp buffer the library delivered, wrapped, not
// copied; the buffer is freed with acldvppFree when its last reference goes.
#include "gsttwincamsrc.h"

#include <time.h>

#include "library_lock.h"
#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"
#include "twincam/platform/frame_limits.h"

// Every call into the library, from every instance and every other
// component of ours in the process, goes through the one library lock.
using twincam::common::LibraryLock;
using twincam::common::Locked;

namespace {

constexpr int kDefaultCamera = 0;

void FreeDvpp(gpointer data) { (void)acldvppFree(data); }

// Each buffer carries when its read returned on the system's monotonic
// clock, so applications can match frames in time across cameras and
// processes whatever the pipeline's clock.
GstStaticCaps g_monotonic = GST_STATIC_CAPS("timestamp/x-monotonic");

GstClockTime MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return GST_TIMESPEC_TO_TIME(now);
}

// NV12 at every size and rate the cameras deliver.
GstCaps *TemplateCaps() {
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "NV12", "width", GST_TYPE_INT_RANGE,
                               int{TWINCAM_MIN_SIDE}, int{TWINCAM_MAX_SIDE}, "height", GST_TYPE_INT_RANGE,
                               int{TWINCAM_MIN_SIDE}, int{TWINCAM_MAX_SIDE}, "framerate", GST_TYPE_FRACTION_RANGE,
                               int{TWINCAM_MIN_FPS}, 1, int{TWINCAM_MAX_FPS}, 1, nullptr);
}

}  // namespace

GST_DEBUG_CATEGORY(twincam_src_debug);
#define GST_CAT_DEFAULT twincam_src_debug

G_DEFINE_TYPE(GstTwincamSrc, gst_twincam_src, GST_TYPE_PUSH_SRC)

enum { PROP_0, PROP_CAMERA_ID };

static void gst_twincam_src_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    GstTwincamSrc *self = GST_TWINCAM_SRC(object);
    switch (id) {
        case PROP_CAMERA_ID:
            GST_OBJECT_LOCK(self);
            if (GST_STATE(self) > GST_STATE_READY) {
                GST_OBJECT_UNLOCK(self);
                g_warning("twincamsrc: camera-id can only change while the element is stopped");
                return;
            }
            self->camera_id = g_value_get_int(value);
            GST_OBJECT_UNLOCK(self);
            break;
        default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
}

static void gst_twincam_src_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    GstTwincamSrc *self = GST_TWINCAM_SRC(object);
    switch (id) {
        case PROP_CAMERA_ID: g_value_set_int(value, self->camera_id); break;
        default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
}

// A camera keeps the frame size of its first open for the life of the
// process, so once opened it can offer only that size.
static GstCaps *gst_twincam_src_get_caps(GstBaseSrc *src, GstCaps *filter) {
    GstTwincamSrc *self = GST_TWINCAM_SRC(src);
    GstCaps *caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(src));
    const CameraRecord record = Locked([&] { return g_CameraMgr.cameras[self->camera_id]; });
    if (record.initialized) {
        caps = gst_caps_make_writable(caps);
        gst_caps_set_simple(caps, "width", G_TYPE_INT, record.width, "height", G_TYPE_INT, record.height, nullptr);
    }
    if (filter != nullptr) {
        GstCaps *both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

static GstCaps *gst_twincam_src_fixate(GstBaseSrc *src, GstCaps *caps) {
    caps = gst_caps_make_writable(caps);
    GstStructure *s = gst_caps_get_structure(caps, 0);
    gst_structure_fixate_field_nearest_int(s, "width", 1280);
    gst_structure_fixate_field_nearest_int(s, "height", 720);
    gst_structure_fixate_field_nearest_fraction(s, "framerate", 30, 1);
    return GST_BASE_SRC_CLASS(gst_twincam_src_parent_class)->fixate(src, caps);
}

static void CloseCamera(GstTwincamSrc *self) {
    if (!self->opened) return;
    self->opened = FALSE;
    const LibraryLock lock;
    if (CloseCameraEx(self->camera_id) != 0) GST_WARNING_OBJECT(self, "closing camera %d failed", self->camera_id);
}

// The camera is opened (or reconfigured) with the negotiated format.
static gboolean gst_twincam_src_set_caps(GstBaseSrc *src, GstCaps *caps) {
    GstTwincamSrc *self = GST_TWINCAM_SRC(src);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) return FALSE;
    const int fps = GST_VIDEO_INFO_FPS_D(&info) == 1 ? GST_VIDEO_INFO_FPS_N(&info) : 0;
    const int width = GST_VIDEO_INFO_WIDTH(&info), height = GST_VIDEO_INFO_HEIGHT(&info);
    if (!twincam_frame_rate_ok(fps) || !twincam_frame_size_ok(width, height)) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("Camera %d cannot deliver %" GST_PTR_FORMAT, self->camera_id, caps),
                          ("frames are even sizes up to %dx%d at a whole %d to %d frames per second",
                           TWINCAM_MAX_SIDE, TWINCAM_MAX_SIDE, TWINCAM_MIN_FPS, TWINCAM_MAX_FPS));
        return FALSE;
    }
    if (Locked([&] { return OpenCameraEx(self->camera_id, fps, width, height); }) != 0) {
        self->opened = FALSE;
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Could not open camera %d", self->camera_id),
                          ("OpenCameraEx(%d, %d, %d, %d) failed; the library's report on standard output says why",
                           self->camera_id, fps, width, height));
        return FALSE;
    }
    self->opened = TRUE;
    self->info = info;
    self->period = gst_util_uint64_scale_int(GST_SECOND, 1, fps);
    return TRUE;
}

static gboolean gst_twincam_src_start(GstBaseSrc *src) {
    GstTwincamSrc *self = GST_TWINCAM_SRC(src);
    self->frames = 0;
    self->opened = FALSE;
    return TRUE;
}

static gboolean gst_twincam_src_stop(GstBaseSrc *src) {
    CloseCamera(GST_TWINCAM_SRC(src));
    return TRUE;
}

static gboolean gst_twincam_src_query(GstBaseSrc *src, GstQuery *query) {
    GstTwincamSrc *self = GST_TWINCAM_SRC(src);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
        if (!self->opened) return FALSE;
        // A frame is ready one frame period after the one before it.
        gst_query_set_latency(query, TRUE, self->period, self->period);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_twincam_src_parent_class)->query(src, query);
}

static GstFlowReturn gst_twincam_src_create(GstPushSrc *src, GstBuffer **out) {
    GstTwincamSrc *self = GST_TWINCAM_SRC(src);
    if (!self->opened) return GST_FLOW_NOT_NEGOTIATED;
    CameraFrame frame{};
    if (Locked([&] { return ReadCameraFrame(self->camera_id, &frame); }) != 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read a frame from camera %d", self->camera_id),
                          ("ReadCameraFrame(%d) failed after %" G_GUINT64_FORMAT
                           " frames; the library's report on standard output says why",
                           self->camera_id, self->frames));
        return GST_FLOW_ERROR;
    }
    const GstClockTime capturedAt = MonotonicNow();
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    if (GstClock *clock = gst_element_get_clock(GST_ELEMENT(src))) {
        const GstClockTime now = gst_clock_get_time(clock), base = gst_element_get_base_time(GST_ELEMENT(src));
        pts = now > base ? now - base : 0;
        gst_object_unref(clock);
    }
    const auto size = static_cast<gsize>(frame.size);
    GstBuffer *buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, frame.data, size, 0, size, frame.data,
                                                    FreeDvpp);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = self->period;
    GST_BUFFER_OFFSET(buffer) = self->frames;
    GST_BUFFER_OFFSET_END(buffer) = self->frames + 1;
    GstCaps *monotonic = gst_static_caps_get(&g_monotonic);
    gst_buffer_add_reference_timestamp_meta(buffer, monotonic, capturedAt, GST_CLOCK_TIME_NONE);
    gst_caps_unref(monotonic);
    ++self->frames;
    *out = buffer;
    return GST_FLOW_OK;
}

static void gst_twincam_src_class_init(GstTwincamSrcClass *klass) {
    GObjectClass *object_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass *base_class = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass *push_class = GST_PUSH_SRC_CLASS(klass);

    object_class->set_property = gst_twincam_src_set_property;
    object_class->get_property = gst_twincam_src_get_property;
    g_object_class_install_property(
        object_class, PROP_CAMERA_ID,
        g_param_spec_int("camera-id", "Camera id",
                         "The twincam camera to read, 0 or 1; changeable only while the element is stopped", 0, 1,
                         kDefaultCamera,
                         static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                  GST_PARAM_MUTABLE_READY)));

    gst_element_class_set_static_metadata(
        element_class, "twincam camera source", "Source/Video",
        "Reads NV12 frames from a twincam camera, handing each on in its dvpp buffer without a copy",
        "twincam developers");
    GstCaps *caps = TemplateCaps();
    gst_element_class_add_pad_template(element_class, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);

    base_class->get_caps = gst_twincam_src_get_caps;
    base_class->fixate = gst_twincam_src_fixate;
    base_class->set_caps = gst_twincam_src_set_caps;
    base_class->start = gst_twincam_src_start;
    base_class->stop = gst_twincam_src_stop;
    base_class->query = gst_twincam_src_query;
    push_class->create = gst_twincam_src_create;
}

static void gst_twincam_src_init(GstTwincamSrc *self) {
    self->camera_id = kDefaultCamera;
    self->period = GST_CLOCK_TIME_NONE;
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}
