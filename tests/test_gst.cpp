// twincamsrc: negotiation, frames in their dvpp buffers (no copy), buffers
// that outlive the pipeline, errors on the bus, two sources at once and the
// first-open size rule. The plugin is loaded from the build tree.
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "twincam/camera.h"
#include "twincam/sim/twincam_sim.h"

// GStreamer and GLib keep type, registry and thread-pool memory until exit
// by design; frames are checked by the tests themselves (live buffers).
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgstreamer-1.0.so\nleak:libgstbase-1.0.so\n"
           "leak:libgstcheck-1.0.so\nleak:libgstvideo-1.0.so\n";
}

namespace {

class Gst : public testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TWINCAM_SIM_PACE", "0", 1);
        // The plugin from the build tree, loaded in this process (not in the
        // scanner helper), so a sanitized build loads it too.
        setenv("GST_PLUGIN_PATH", TWINCAM_GST_PLUGIN_DIR, 1);
        setenv("GST_REGISTRY", TWINCAM_GST_REGISTRY, 1);
        setenv("GST_REGISTRY_FORK", "no", 1);
        gst_init(nullptr, nullptr);
    }
    void TearDown() override { EXPECT_EQ(twincam_sim_live_buffers(), 0u) << "every buffer freed"; }
};

GstHarness *Source(int camera, const char *caps) {
    GstHarness *h = gst_harness_new_parse(camera == 0 ? "twincamsrc camera-id=0" : "twincamsrc camera-id=1");
    if (caps != nullptr) gst_harness_set_sink_caps_str(h, caps);
    gst_harness_play(h);
    return h;
}

// The stamp of a buffer of the given size, after checking the buffer is the
// live dvpp buffer itself.
twincam_sim_stamp Stamp(GstBuffer *buffer, int width, int height) {
    GstMapInfo map;
    twincam_sim_stamp stamp{-1, 0};
    EXPECT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
    EXPECT_EQ(map.size, static_cast<gsize>(width * height * 3 / 2));
    EXPECT_NE(twincam_sim_buffer_number(map.data), 0u) << "the dvpp buffer itself, not a copy";
    EXPECT_EQ(twincam_sim_stamp_decode(map.data, width, height, &stamp), 0);
    gst_buffer_unmap(buffer, &map);
    return stamp;
}

TEST_F(Gst, NegotiatesDownstreamCapsAndStampsConsecutiveFrames) {
    GstHarness *h = Source(1, "video/x-raw,format=NV12,width=320,height=240,framerate=60/1");
    std::vector<GstBuffer *> held;
    GstCaps *monotonic = gst_caps_new_empty_simple("timestamp/x-monotonic");
    GstClockTime capturedBefore = 0;
    for (int n = 0; n < 5; ++n) {
        GstBuffer *b = gst_harness_pull(h);
        ASSERT_NE(b, nullptr);
        // Capture times on the monotonic clock: rising, and already past.
        const GstReferenceTimestampMeta *captured = gst_buffer_get_reference_timestamp_meta(b, monotonic);
        ASSERT_NE(captured, nullptr);
        EXPECT_GT(captured->timestamp, capturedBefore);
        EXPECT_LE(captured->timestamp, static_cast<GstClockTime>(g_get_monotonic_time()) * GST_USECOND);
        capturedBefore = captured->timestamp;
        const twincam_sim_stamp s = Stamp(b, 320, 240);
        EXPECT_EQ(s.camera, 1);
        EXPECT_EQ(s.sequence, static_cast<uint32_t>(n));
        EXPECT_EQ(GST_BUFFER_OFFSET(b), static_cast<guint64>(n));
        EXPECT_EQ(GST_BUFFER_DURATION(b), GST_SECOND / 60);
        EXPECT_TRUE(GST_BUFFER_PTS_IS_VALID(b));
        held.push_back(b);
    }
    gst_caps_unref(monotonic);
    const CameraRecord r = g_CameraMgr.cameras[1];
    EXPECT_EQ(r.width, 320);
    EXPECT_EQ(r.fps, 60);

    GstQuery *latency = gst_query_new_latency();
    ASSERT_TRUE(gst_pad_peer_query(h->sinkpad, latency));
    gboolean live = FALSE;
    GstClockTime min = 0, max = 0;
    gst_query_parse_latency(latency, &live, &min, &max);
    EXPECT_TRUE(live);
    EXPECT_EQ(min, GST_SECOND / 60);
    gst_query_unref(latency);
    // Once the harness lets go of what it queued, the live dvpp buffers are
    // exactly the buffers held here.
    gst_harness_teardown(h);
    EXPECT_EQ(twincam_sim_live_buffers(), held.size());
    for (GstBuffer *b : held) gst_buffer_unref(b);
}

TEST_F(Gst, FixatesTo720pAt30WhereDownstreamLeavesItOpen) {
    GstHarness *h = Source(0, "video/x-raw");
    GstBuffer *b = gst_harness_pull(h);
    ASSERT_NE(b, nullptr);
    Stamp(b, 1280, 720);
    gst_buffer_unref(b);
    EXPECT_EQ(g_CameraMgr.cameras[0].fps, 30);
    EXPECT_EQ(g_CameraMgr.cameras[0].height, 720);
    gst_harness_teardown(h);
}

TEST_F(Gst, BufferHeldPastTheStopStaysValidUntilReleased) {
    GstHarness *h = Source(0, "video/x-raw,width=160,height=120");
    GstBuffer *b = gst_harness_pull(h);
    ASSERT_NE(b, nullptr);
    gst_harness_teardown(h);  // to NULL: the camera is closed
    twincam_sim_camera_info info{};
    twincam_sim_camera(0, &info);
    EXPECT_EQ(info.open, 0);
    EXPECT_EQ(twincam_sim_live_buffers(), 1u);
    EXPECT_EQ(Stamp(b, 160, 120).camera, 0);
    gst_buffer_unref(b);
}

// Plays a pipeline until its end and lets go of it; returns the error it
// posted (null at EOS).
GError *RunToEnd(GstElement *pipeline) {
    if (pipeline == nullptr) return g_error_new_literal(GST_CORE_ERROR, GST_CORE_ERROR_FAILED, "no pipeline");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND,
                                                 static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
    GError *error = nullptr;
    if (msg == nullptr) error = g_error_new_literal(GST_CORE_ERROR, GST_CORE_ERROR_FAILED, "timed out");
    else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) gst_message_parse_error(msg, &error, nullptr);
    if (msg != nullptr) gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return error;
}
GError *RunToEnd(const char *launch) { return RunToEnd(gst_parse_launch(launch, nullptr)); }

// Errors reach the bus with their domain and a reason naming the camera;
// nothing leaks.
TEST_F(Gst, ReadAndOpenFaultsPostErrorsAndLeakNothing) {
    ASSERT_EQ(twincam_sim_set_faults("read@3,open@2", nullptr, 0), 0);
    GError *read = RunToEnd("twincamsrc ! video/x-raw,width=160,height=120 ! fakesink");
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(g_error_matches(read, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ)) << read->message;
    EXPECT_NE(std::string(read->message).find("camera 0"), std::string::npos);
    g_error_free(read);
    GError *open = RunToEnd("twincamsrc camera-id=1 ! fakesink");
    ASSERT_NE(open, nullptr);
    EXPECT_TRUE(g_error_matches(open, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ)) << open->message;
    EXPECT_NE(std::string(open->message).find("camera 1"), std::string::npos);
    g_error_free(open);
}

// Two sources stream on their own threads; their library calls are
// serialised by the plugin, and each delivers its own camera in order.
TEST_F(Gst, TwoSourcesInOnePipeline) {
    GstElement *pipeline = gst_parse_launch(
        "twincamsrc camera-id=0 num-buffers=40 ! video/x-raw,width=160,height=120 ! fakesink name=s0 "
        "signal-handoffs=true twincamsrc camera-id=1 num-buffers=40 ! video/x-raw,width=160,height=120 ! "
        "fakesink name=s1 signal-handoffs=true",
        nullptr);
    ASSERT_NE(pipeline, nullptr);
    struct Seen {
        int camera;
        std::atomic<int> frames{0};
        std::atomic<int> wrong{0};
    } seen[2];
    for (int c = 0; c < 2; ++c) {
        seen[c].camera = c;
        GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), c == 0 ? "s0" : "s1");
        g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement *, GstBuffer *b, GstPad *, gpointer user) {
                             auto *s = static_cast<Seen *>(user);
                             GstMapInfo map;
                             twincam_sim_stamp stamp{};
                             if (gst_buffer_map(b, &map, GST_MAP_READ)) {
                                 if (twincam_sim_stamp_decode(map.data, 160, 120, &stamp) != 0 ||
                                     stamp.camera != s->camera ||
                                     stamp.sequence != static_cast<uint32_t>(s->frames.load())) {
                                     ++s->wrong;
                                 }
                                 gst_buffer_unmap(b, &map);
                             }
                             ++s->frames;
                         }),
                         &seen[c]);
        gst_object_unref(sink);
    }
    GError *error = RunToEnd(pipeline);
    EXPECT_EQ(error, nullptr) << error->message;
    if (error != nullptr) g_error_free(error);
    for (const Seen &s : seen) {
        EXPECT_EQ(s.frames.load(), 40);
        EXPECT_EQ(s.wrong.load(), 0) << "camera " << s.camera;
    }
}

// The registry keeps a camera's first frame size: then only it is offered.
TEST_F(Gst, OnceOpenedOnlyTheRecordedSizeIsOffered) {
    ASSERT_EQ(OpenCameraEx(0, 30, 320, 240), 0);
    ASSERT_EQ(CloseCameraEx(0), 0);
    GstElement *src = gst_element_factory_make("twincamsrc", nullptr);
    ASSERT_NE(src, nullptr);
    GstPad *pad = gst_element_get_static_pad(src, "src");
    GstCaps *caps = gst_pad_query_caps(pad, nullptr);
    GstCaps *wanted = gst_caps_from_string("video/x-raw,format=NV12,width=320,height=240");
    GstCaps *other = gst_caps_from_string("video/x-raw,format=NV12,width=640,height=480");
    EXPECT_TRUE(gst_caps_can_intersect(caps, wanted));
    EXPECT_FALSE(gst_caps_can_intersect(caps, other));
    for (GstCaps *c : {caps, wanted, other}) gst_caps_unref(c);
    gst_object_unref(pad);
    gst_object_unref(src);

    GstHarness *h = Source(0, nullptr);
    GstBuffer *b = gst_harness_pull(h);
    ASSERT_NE(b, nullptr);
    Stamp(b, 320, 240);
    gst_buffer_unref(b);
    gst_harness_teardown(h);
}

}  // namespace
