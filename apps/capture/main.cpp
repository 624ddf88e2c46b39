// twincam-capture: reads frames from one or both cameras through twincam and
// hands them, still in their dvpp buffers, to writers that encode them as
// PNG, JPEG, raw NV12, Y4M or MP4 video on the other cores, frame by frame or,
// with --pair, as matched stereo pairs. Reading never waits
// for writing; a frame the writers cannot take in time is dropped, counted.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "camera_link.h"
#include "capture_options.h"
#include "pairing.h"
#include "summary.h"
#include "writer_pool.h"

using namespace twincam::capture;
using namespace twincam::common;

namespace {

void Fail(const std::string &what) { std::fprintf(stderr, "twincam-capture: %s\n", what.c_str()); }

bool MakeOutputDirectory(const std::string &dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) Fail("cannot create " + dir + ": " + ec.message());
    return !ec;
}

// Empty, with what is wrong said, when an output cannot be made.
std::vector<std::unique_ptr<FrameSink>> MakeSinks(const Options &opt) {
    std::vector<std::unique_ptr<FrameSink>> sinks;
    for (const std::string &f : opt.formats) {
        if (f == "png") sinks.push_back(MakePngFiles(opt.output, opt.pngLevel, opt.sideBySide));
        if (f == "jpeg") sinks.push_back(MakeJpegFiles(opt.output, opt.quality, opt.sideBySide));
        if (f == "nv12") sinks.push_back(MakeNv12Files(opt.output, opt.sideBySide));
        if (f == "y4m") sinks.push_back(MakeY4mVideo(opt.output, opt.fps));
        if (f == "mp4") {
            std::string error;
            const std::string encoder = EncoderFragment(opt.h264, opt.fps);
            sinks.push_back(MakeMp4Video(opt.output, encoder, opt.fps, opt.segmentSeconds, &error));
            if (sinks.back() == nullptr) {
                Fail(error);
                return {};
            }
        }
    }
    if (!opt.sheet.empty()) sinks.push_back(MakeContactSheet(opt.sheet));
    return sinks;
}

// Stops at the first camera that does not open, unless --keep-going
// leaves it to be tried again.
int OpenCameras(const Options &opt, Readers *cameras) {
    const CameraLink::Settings settings{opt.fps, opt.width, opt.height, Seconds(opt.reopenMaxSeconds)};
    for (int id : opt.cameras) {
        CameraLink &cam = cameras->emplace_back(id, settings, true);
        if (!cam.Open()) {
            Fail("opening camera " + std::to_string(id) + " failed" + (opt.keepGoing ? "; trying again" : ""));
            if (!opt.keepGoing) return kExitFailure;
        }
    }
    return kExitOk;
}

// A camera went down or came back: ends the capture, or (--keep-going) is
// said once and marked in its CSV. False when the capture ends.
bool Changed(const Options &opt, const CameraLink &cam, CameraLink::Change change, FrameLog &log) {
    if (change == CameraLink::Change::kNone) return true;
    const bool down = change == CameraLink::Change::kFailed;
    if (down && !opt.keepGoing) {
        Fail("reading frame " + std::to_string(cam.reader().read()) + " from camera " + std::to_string(cam.camera()) +
             " failed");
        return false;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - cam.downSince()).count();
    if (down) Fail("camera " + std::to_string(cam.camera()) + " is down (" + cam.error() + "); reopening it");
    else Fail("camera " + std::to_string(cam.camera()) + " is back after " + std::to_string(seconds).substr(0, 4) + " s");
    if (const std::string error = log.Mark(cam.camera(), down ? "down" : "back"); !error.empty()) Fail(error);
    return true;
}

// One frame per camera in turn, each handed on at once; a camera that is
// down (--keep-going) is tried again when due while the others go on.
int ReadFrames(const Options &opt, Readers &cameras, WriterPool &writers, FrameLog &log) {
    const bool progress = !opt.quiet && isatty(STDERR_FILENO) && opt.frames > 0;
    const long total = static_cast<long>(opt.frames) * static_cast<long>(cameras.size());
    long done = 0;
    while (!g_stop.load() && (opt.frames == 0 || done < total)) {
        bool delivering = false;
        Clock::time_point wanted = Clock::now() + std::chrono::milliseconds(100);
        for (CameraLink &cam : cameras) {
            if (g_stop.load() || (opt.frames > 0 && cam.reader().read() >= opt.frames)) continue;
            if (writers.failed()) return kExitFailure;
            CameraLink::Change change = CameraLink::Change::kNone;
            FramePtr frame = cam.Step(&change);
            if (!Changed(opt, cam, change, log)) return kExitFailure;
            delivering = delivering || cam.up();
            if (!cam.up()) wanted = std::min(wanted, cam.retryAt());
            if (frame == nullptr) continue;
            // Only frames the writers take are numbered for them.
            if (writers.Offer(std::move(frame))) cam.reader().HandedOn();
            ++done;
            if (progress) Progress(done, total);
        }
        if (!delivering) std::this_thread::sleep_until(wanted);
    }
    if (progress) std::fputc('\n', stderr);
    return kExitOk;
}

// The next frame of a camera for a pair: with --keep-going, waits through an
// outage for it; nullptr when the camera failed (otherwise) or at a stop.
FramePtr ReadThrough(const Options &opt, CameraLink &cam, long pair, FrameLog &log) {
    while (!g_stop.load()) {
        CameraLink::Change change = CameraLink::Change::kNone;
        FramePtr frame = cam.Step(&change, pair);
        if (!Changed(opt, cam, change, log)) return nullptr;
        if (frame != nullptr) return frame;
        if (!cam.up()) std::this_thread::sleep_until(std::min(cam.retryAt(), Clock::now() + std::chrono::milliseconds(100)));
    }
    return nullptr;
}

// Both cameras as a stereo pair: frames matched by read time go to the
// writers together; frames left without a partner are logged and freed.
int ReadPairs(const Options &opt, Readers &cameras, WriterPool &writers, FrameLog &log, PairFigures *figures) {
    const bool progress = !opt.quiet && isatty(STDERR_FILENO);
    const int64_t bound = opt.maxSkewMs > 0 ? static_cast<int64_t>(opt.maxSkewMs * 1e6) : HalfPeriodNs(opt.fps);
    long pair = 0;
    auto read = [&](int side) { return ReadThrough(opt, cameras[side], pair, log); };
    auto time = [](const FramePtr &f) { return Nanoseconds(f->readAt); };
    auto drop = [&](FramePtr f) { writers.Discard(*f); };
    PairReader<FramePtr, decltype(read), decltype(time), decltype(drop)> reader(bound, read, time, drop);
    int status = kExitOk;
    for (; (opt.frames == 0 || pair < opt.frames) && !g_stop.load(); ++pair) {
        std::string error;
        std::optional<std::pair<FramePtr, FramePtr>> frames = reader.Next(&error);
        if (!frames || writers.failed()) {
            if (!frames) Fail("pair " + std::to_string(pair) + ": " + error);
            status = kExitFailure;
            break;
        }
        if (writers.OfferPair(std::move(frames->first), std::move(frames->second))) {
            for (CameraLink &cam : cameras) cam.reader().HandedOn();
        }
        if (progress && opt.frames > 0) Progress(pair + 1, opt.frames);
    }
    if (progress) std::fputc('\n', stderr);
    *figures = {reader.matcher().pairs(), reader.unmatched(), reader.matcher().skewMs()};
    return status;
}

int CloseCameras(Readers &cameras, int status) {
    for (CameraLink &cam : cameras) {
        if (!cam.Close()) {
            Fail("closing camera " + std::to_string(cam.camera()) + " failed");
            status = kExitFailure;
        }
    }
    return status;
}

// The summary, what went wrong, and the exit status.
int Conclude(const Options &opt, const Readers &cameras, const WriterPool &writers, const PairFigures &pairs,
             double seconds, int status) {
    long read = 0;
    for (const CameraLink &cam : cameras) {
        read += cam.reader().read();
        if (const long wrong = cam.reader().stamps().wrongCamera(); wrong > 0) {
            Fail(std::to_string(wrong) + " frames from camera " + std::to_string(cam.camera()) +
                 " carry another camera's stamp");
            status = kExitFailure;
        }
    }
    if (!opt.quiet) PrintSummary(opt, cameras, writers, seconds, opt.pair ? &pairs : nullptr);
    for (const CameraLink &cam : cameras) {
        if (const long dropped = writers.counts(cam.camera()).dropped; dropped > 0) {
            Fail(std::to_string(dropped) + " frames of camera " + std::to_string(cam.camera()) +
                 " dropped unwritten: the writers fell behind (try fewer or faster formats, or a larger --queue)");
        }
    }
    const long total = opt.pair ? opt.frames : static_cast<long>(opt.frames) * static_cast<long>(opt.cameras.size());
    const long done = opt.pair ? pairs.pairs : read;
    // Without a count, a stop is how the capture is meant to end.
    if (status == kExitOk && g_stop.load() && opt.frames > 0 && done < total) {
        Fail("interrupted after " + std::to_string(done) + " of " + std::to_string(total) +
             (opt.pair ? " pairs" : " frames"));
        return kExitInterrupted;
    }
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    // 1. Options.
    Options opt;
    if (const std::optional<int> exit = ParseOptions(argc, argv, &opt)) return *exit;

    // 2. Ctrl-C and SIGTERM stop reading; what was read is still written.
    InstallStopHandlers();

    // 3. The output directory and the writers.
    if (!MakeOutputDirectory(opt.output)) return kExitFailure;
    std::vector<std::unique_ptr<FrameSink>> sinks = MakeSinks(opt);
    if (sinks.empty()) return kExitFailure;
    FrameLog log(opt.output);
    WriterPool writers(std::move(sinks), &log, opt.queue, opt.writers, opt.slowWriterMs);

    // 4. Open the cameras and read; the library's report lines say why one fails.
    Readers cameras;
    int status = OpenCameras(opt, &cameras);
    const Clock::time_point start = Clock::now();
    PairFigures pairs;
    if (status == kExitOk) {
        status = opt.pair ? ReadPairs(opt, cameras, writers, log, &pairs) : ReadFrames(opt, cameras, writers, log);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    // 5. Close every camera that was opened; frames still queued outlive it.
    status = CloseCameras(cameras, status);

    // 6. Let the writers finish what was read.
    if (const std::string error = writers.Drain(); !error.empty()) {
        Fail(error);
        status = kExitFailure;
    }

    // 7. Summary and exit status.
    return Conclude(opt, cameras, writers, pairs, seconds, status);
}
