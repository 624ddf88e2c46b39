// twincamsrc against the plain C read loop, unpaced at 1920x1080, in one
// process: frames per second of each, and proof that every buffer reaching
// the sink is the dvpp buffer the library allocated (no copy on the way).
// Usage: element_vs_read_loop [FRAMES]   (GST_PLUGIN_PATH must hold the plugin)
#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"
#include "twincam/sim/twincam_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

double ReadLoop(long frames) {
    if (OpenCameraEx(0, 30, 1920, 1080) != 0) return 0;
    const Clock::time_point t0 = Clock::now();
    for (long i = 0; i < frames; ++i) {
        CameraFrame frame;
        if (ReadCameraFrame(0, &frame) != 0) return 0;
        acldvppFree(frame.data);
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    CloseCameraEx(0);
    return static_cast<double>(frames) / s;
}

long g_seen = 0, g_dvpp = 0;

GstPadProbeReturn Check(GstPad *, GstPadProbeInfo *info, gpointer) {
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        g_dvpp += twincam_sim_buffer_number(map.data) != 0 ? 1 : 0;
        gst_buffer_unmap(buffer, &map);
    }
    ++g_seen;
    return GST_PAD_PROBE_OK;
}

double Element(long frames) {
    char launch[256];
    std::snprintf(launch, sizeof launch,
                  "twincamsrc num-buffers=%ld ! video/x-raw,width=1920,height=1080,framerate=30/1 ! "
                  "fakesink name=sink sync=false",
                  frames);
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(launch, &error);
    if (pipeline == nullptr) {
        std::fprintf(stderr, "%s\n", error->message);
        return 0;
    }
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad *pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, Check, nullptr, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    gst_element_get_state(pipeline, nullptr, nullptr, GST_CLOCK_TIME_NONE);
    const Clock::time_point t0 = Clock::now();
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE,
                                                 static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    const bool ok = GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok ? static_cast<double>(g_seen) / s : 0;
}

}  // namespace

int main(int argc, char **argv) {
    setenv("TWINCAM_SIM_PACE", "0", 1);
    gst_init(&argc, &argv);
    const long frames = argc > 1 ? std::atol(argv[1]) : 300;
    // Alternated, best of three each, so neither side gets the warmer cache.
    double loop = 0, element = 0;
    for (int round = 0; round < 3; ++round) {
        loop = std::max(loop, ReadLoop(frames));
        g_seen = g_dvpp = 0;
        element = std::max(element, Element(frames));
    }
    std::fprintf(stderr, "read loop %.0f frames/s, twincamsrc %.0f frames/s; %ld of %ld buffers at the sink were "
                         "the library's dvpp buffers\n",
                 loop, element, g_dvpp, g_seen);
    std::printf("%.3f %ld %ld\n", loop > 0 ? element / loop : 0.0, g_dvpp, g_seen);
    return loop > 0 && element > 0 && g_dvpp == g_seen ? 0 : 1;
}
