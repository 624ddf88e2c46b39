#include "summary.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "stats.h"

namespace twincam::capture {

void Progress(long done, long total) {
    constexpr int kWidth = 30;
    const int filled = total > 0 ? static_cast<int>(done * kWidth / total) : kWidth;
    std::fprintf(stderr, "\r[%.*s%.*s] %ld/%ld frames", filled, "##############################", kWidth - filled,
                 "..............................", done, total);
    std::fflush(stderr);
}

void PrintSummary(const Options &opt, const Readers &cameras, const WriterPool &writers, double seconds,
                  const PairFigures *pairs) {
    for (const common::CameraLink &link : cameras) {
        const common::FrameReader &cam = link.reader();
        const common::Spread l = common::Summarise(cam.latencyMs());
        const WriterPool::CameraCounts c = writers.counts(cam.camera());
        // Frames an outage cost: what the camera would have delivered meanwhile.
        const double down = std::chrono::duration<double>(link.downTime(common::Clock::now())).count();
        const long long missed = cam.stamps().missed() + std::llround(down * opt.fps);
        std::printf("camera %d: %ld read, %ld written, missed %lld, dropped %ld, %lld bytes, %.1f fps; "
                    "read latency ms min %.3f median %.3f p99 %.3f max %.3f; most waiting %zu",
                    cam.camera(), cam.read(), c.written, missed, c.dropped, cam.bytes(),
                    seconds > 0 ? static_cast<double>(cam.read()) / seconds : 0.0, l.min, l.median, l.p99, l.max,
                    c.mostWaiting);
        if (cam.stamps().stampless() > 0) std::printf(" (%ld frames without a stamp)", cam.stamps().stampless());
        if (link.failures() > 0) std::printf("; down %ld times for %.1f s in all", link.failures(), down);
        std::printf("\n");
    }
    if (pairs != nullptr) {
        std::printf("pairs: %ld matched, %ld frames unmatched; skew ms median %.3f p99 %.3f max %.3f\n", pairs->pairs,
                    pairs->unmatched, pairs->skewMs.median, pairs->skewMs.p99, pairs->skewMs.max);
    }
    std::ostringstream encode;
    for (const WriterPool::SinkTime &t : writers.sinkTimes()) {
        char line[64];
        std::snprintf(line, sizeof line, " %s %.2f", t.name.c_str(), t.msPerFrame);
        encode << line;
    }
    std::printf("encode ms per frame:%s\n", encode.str().c_str());
    std::printf("files written: %ld in %s%s%s\n", writers.files(), opt.output.c_str(),
                opt.sheet.empty() ? "" : ", sheet ", opt.sheet.c_str());
}

}  // namespace twincam::capture
