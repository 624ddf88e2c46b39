// twincam's per-frame cost against the platform alone, against writing the
// same bytes with memset, and against a GStreamer pipeline delivering the
// same frames. Camera 0 runs at TWINCAM_BENCH_SIZE (WxH, default 640x480);
// camera 1 at 160x120, where library overhead would show. The registry
// keeps a camera's first frame size, so each resolution is its own process
// (bench/run starts them).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#if TWINCAM_BENCH_GSTREAMER
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#endif

#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"
#include "twincam/platform/camera_service.h"

namespace {

constexpr int kSmallCamera = 1, kSmallWidth = 160, kSmallHeight = 120;

struct Setup {
    int width = 640, height = 480;
    bool ok = false;
    Setup() {
        setenv("TWINCAM_SIM_PACE", "0", 1);
        setenv("TWINCAM_SIM_LOG_LEVEL", "none", 1);
        if (const char *size = std::getenv("TWINCAM_BENCH_SIZE")) std::sscanf(size, "%dx%d", &width, &height);
        ok = OpenCameraEx(0, 30, width, height) == 0 && OpenCameraEx(kSmallCamera, 30, kSmallWidth, kSmallHeight) == 0;
    }
};

const Setup &Cameras() {
    static Setup setup;
    return setup;
}

void ReadOrSkip(benchmark::State &state, int id, CameraFrame *frame) {
    if (ReadCameraFrame(id, frame) != 0) state.SkipWithError("ReadCameraFrame failed");
}

// Library path: what an application does per frame.
void BM_OverheadLibrary(benchmark::State &state) {
    if (!Cameras().ok) return state.SkipWithError("open failed");
    for (auto _ : state) {
        CameraFrame frame;
        ReadOrSkip(state, kSmallCamera, &frame);
        acldvppFree(frame.data);
    }
}
BENCHMARK(BM_OverheadLibrary);

// The same platform calls made directly.
void BM_OverheadDirect(benchmark::State &state) {
    if (!Cameras().ok) return state.SkipWithError("open failed");
    const int32_t frameSize = g_CameraMgr.cameras[kSmallCamera].frameSize;
    for (auto _ : state) {
        void *buffer = nullptr;
        int32_t size = frameSize;
        if (acldvppMalloc(&buffer, static_cast<uint64_t>(size)) != 0 ||
            ReadFrameFromCamera(kSmallCamera, buffer, &size) == 0) {
            state.SkipWithError("platform call failed");
        }
        benchmark::DoNotOptimize(size);
        acldvppFree(buffer);
    }
}
BENCHMARK(BM_OverheadDirect);

void BM_Capture(benchmark::State &state) {
    if (!Cameras().ok) return state.SkipWithError("open failed");
    const int64_t bytes = g_CameraMgr.cameras[0].frameSize;
    for (auto _ : state) {
        CameraFrame frame;
        ReadOrSkip(state, 0, &frame);
        benchmark::DoNotOptimize(frame.data);
        acldvppFree(frame.data);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Capture)->UseRealTime();

// The unavoidable cost: writing the frame's bytes once into reused memory.
void BM_Memset(benchmark::State &state) {
    if (!Cameras().ok) return state.SkipWithError("open failed");
    const size_t bytes = static_cast<size_t>(g_CameraMgr.cameras[0].frameSize);
    std::vector<uint8_t> buffer(bytes);
    uint8_t value = 0;
    for (auto _ : state) {
        std::memset(buffer.data(), ++value, bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_Memset)->UseRealTime();

// The application reads one byte per cache line of every frame.
uint8_t Touch(const uint8_t *data, size_t size) {
    uint8_t sum = 0;
    for (size_t i = 0; i < size; i += 64) sum = static_cast<uint8_t>(sum + data[i]);
    return sum;
}

void BM_CaptureTouch(benchmark::State &state) {
    if (!Cameras().ok) return state.SkipWithError("open failed");
    for (auto _ : state) {
        CameraFrame frame;
        ReadOrSkip(state, 0, &frame);
        benchmark::DoNotOptimize(Touch(static_cast<const uint8_t *>(frame.data), static_cast<size_t>(frame.size)));
        acldvppFree(frame.data);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CaptureTouch)->UseRealTime();

#if TWINCAM_BENCH_GSTREAMER
// A peer: GStreamer's test source delivering the same NV12 frames to an appsink.
void BM_GStreamerTouch(benchmark::State &state) {
    const Setup &s = Cameras();
    gst_init(nullptr, nullptr);
    char launch[256];
    std::snprintf(launch, sizeof launch,
                  "videotestsrc pattern=ball ! video/x-raw,format=NV12,width=%d,height=%d ! "
                  "appsink name=sink sync=false",
                  s.width, s.height);
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(launch, &error);
    if (pipeline == nullptr) {
        state.SkipWithError(error != nullptr ? error->message : "gst_parse_launch failed");
        return;
    }
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    for (auto _ : state) {
        GstSample *sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
        if (sample == nullptr) {
            state.SkipWithError("no sample");
            break;
        }
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            benchmark::DoNotOptimize(Touch(map.data, map.size));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    state.SetItemsProcessed(state.iterations());
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
}
BENCHMARK(BM_GStreamerTouch)->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
