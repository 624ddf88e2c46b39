// twincam-serve: the cameras live in a browser. One reader reads every open
// camera in turn and hands each frame's dvpp buffer to that camera's
// encoder, which turns the newest frame into a JPEG, once, and frees the
// buffer; a frame a newer one replaces unencoded is freed then. Every
// client of a camera gets the same JPEG. A slow client only
// ever waits for the newest frame and holds up nobody else.
#include <CLI/CLI.hpp>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera_options.h"
#include "frame.h"
#include "process.h"
#include "run_control.h"
#include "serve_page.h"
#include "stamp.h"
#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"
#if TWINCAM_TOOLS_STAMPS
#include "twincam/sim/twincam_sim.h"
#endif

using namespace twincam::tools;
using Clock = std::chrono::steady_clock;

namespace {

struct Options : CameraOptions {
    Options() { size = "1280x720"; }
    std::string listen = "127.0.0.1:8080";
    int quality = 80;
    int maxClients = 16;
};

// One encoded frame, shared by every client of its camera.
struct Encoded {
    std::string bytes;
    Clock::time_point readAt;
    uint64_t number;
};
using Jpeg = std::shared_ptr<const Encoded>;

// dvpp buffers still allocated: known with the stand-ins only.
long LiveBuffers() {
#if TWINCAM_TOOLS_STAMPS
    return static_cast<long>(twincam_sim_live_buffers());
#else
    return -1;
#endif
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A frame waiting for its camera's encoder, in its dvpp buffer.
struct Pending {
    FramePtr frame;
    Clock::time_point readAt;
};

// One camera: its newest frame waiting for the encoder, its newest JPEG,
// and its figures.
class Camera {
public:
    Camera(int id, int quality) : id_(id), quality_(quality) {}
    ~Camera() { Stop(); }
    int id() const { return id_; }

    void StartEncoder() {
        encoder_ = std::thread([this] { Encode(); });
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (encoder_.joinable()) encoder_.join();
    }

    // From the reader: the newest frame replaces one the encoder has not taken.
    void Offer(Pending frame, long long missed) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++read_;
        missed_ += missed;
        readTimes_.push_back(frame.readAt);
        while (!readTimes_.empty() && frame.readAt - readTimes_.front() > std::chrono::seconds(1)) readTimes_.pop_front();
        if (pending_) ++skipped_;
        pending_ = std::make_unique<Pending>(std::move(frame));
        changed_.notify_all();
    }
    void Fail(const std::string &why) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = why;
        changed_.notify_all();
    }

    // Waits for a JPEG newer than frame `after` (0: any); nullptr on
    // shutdown, failure or timeout.
    Jpeg Next(uint64_t after, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return stopping_ || !error_.empty() || (jpeg_ && jpeg_->number > after); });
        return jpeg_ && jpeg_->number > after ? jpeg_ : nullptr;
    }
    // A client finished sending a part: how long after the read it left.
    void Delivered(Clock::time_point readAt) {
        std::lock_guard<std::mutex> lock(mutex_);
        deliveryMs_.push_back(Ms(Clock::now() - readAt));
        if (deliveryMs_.size() > 1024) deliveryMs_.pop_front();
    }

    std::atomic<int> clients{0};

    std::string StatsJson() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<double> sorted(deliveryMs_.begin(), deliveryMs_.end());
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted.empty() ? 0.0 : sorted[sorted.size() / 2];
        char text[512];
        std::snprintf(text, sizeof text,
                      "{\"id\":%d,\"open\":%s,\"frames_read\":%ld,\"fps\":%.1f,\"missed\":%lld,\"skipped\":%ld,"
                      "\"encode_ms\":%.2f,\"clients\":%d,\"delivery_ms_median\":%.2f,\"error\":",
                      id_, error_.empty() ? "true" : "false", read_,
                      readTimes_.size() > 1 ? static_cast<double>(readTimes_.size() - 1) /
                                                  std::chrono::duration<double>(readTimes_.back() - readTimes_.front()).count()
                                            : 0.0,
                      missed_, skipped_, encoded_ > 0 ? encodeMs_ / static_cast<double>(encoded_) : 0.0, clients.load(),
                      median);
        std::string json = text;
        json += error_.empty() ? "null" : "\"" + error_ + "\"";
        return json + "}";
    }

private:
    void Encode() {
        JpegEncoder encoder;
        std::string bytes;
        for (;;) {
            std::unique_ptr<Pending> frame;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || pending_ != nullptr; });
                if (stopping_) break;
                frame = std::move(pending_);
            }
            const Clock::time_point t0 = Clock::now();
            const std::string error = encoder.Encode(frame->frame->view(), quality_, &bytes);
            const Clock::time_point readAt = frame->readAt;
            frame.reset();  // the dvpp buffer goes back before the clients are told
            std::lock_guard<std::mutex> lock(mutex_);
            if (!error.empty()) {
                error_ = error;
                changed_.notify_all();
                break;
            }
            encodeMs_ += Ms(Clock::now() - t0);
            ++encoded_;
            jpeg_ = std::make_shared<const Encoded>(Encoded{std::move(bytes), readAt, ++number_});
            changed_.notify_all();
        }
    }

    const int id_;
    const int quality_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::unique_ptr<Pending> pending_;
    Jpeg jpeg_;
    uint64_t number_ = 0;  // the encoder's alone
    bool stopping_ = false;
    std::string error_;
    long read_ = 0, skipped_ = 0, encoded_ = 0;
    long long missed_ = 0;
    double encodeMs_ = 0;
    std::deque<Clock::time_point> readTimes_;
    std::deque<double> deliveryMs_;
    std::thread encoder_;
};

// Reads every open camera in turn; the only thread that calls the library.
void ReadLoop(const std::vector<Camera *> &cameras, std::atomic<bool> &stop) {
    std::map<int, long long> last;
    std::vector<Camera *> live = cameras;
    while (!stop.load() && !live.empty()) {
        for (auto it = live.begin(); it != live.end() && !stop.load();) {
            Camera *cam = *it;
            CameraFrame delivered{};
            if (ReadCameraFrame(cam->id(), &delivered) != 0) {
                // The others go on; this one is closed with the rest at the end.
                cam->Fail("reading camera " + std::to_string(cam->id()) + " failed; the library's report says why");
                it = live.erase(it);
                continue;
            }
            const Clock::time_point readAt = Clock::now();
            const CameraRecord &record = g_CameraMgr.cameras[cam->id()];
            long long missed = 0;
            int stampCamera = 0;
            uint32_t sequence = 0;
            if (ReadStamp(delivered.data, record.width, record.height, &stampCamera, &sequence)) {
                auto found = last.find(cam->id());
                if (found != last.end() && sequence > found->second + 1) missed = sequence - found->second - 1;
                last[cam->id()] = sequence;
            }
            Frame frame;
            frame.camera = cam->id();
            frame.sequence = sequence;
            frame.width = record.width;
            frame.height = record.height;
            cam->Offer({AdoptFrame(delivered, frame), readAt}, missed);
            ++it;
        }
    }
}

bool ParseListen(const std::string &text, std::string *host, int *port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    char *end = nullptr;
    const long p = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || p < 0 || p > 65535) return false;
    *host = text.substr(0, colon);
    *port = static_cast<int>(p);
    return true;
}



}  // namespace

int main(int argc, char **argv) {
    // 1. Options.
    Options opt;
    CLI::App app{"Serve twincam cameras live to a browser: a page, MJPEG streams, snapshots and figures.",
                 "twincam-serve"};
    AddCameraOptions(app, opt, "Camera to serve, 0 or 1; repeat for both (default both)", CLI::Range(1, 240));
    app.add_option("--listen", opt.listen, "HOST:PORT to listen on (port 0 picks a free one)")->capture_default_str();
    app.add_option("--quality", opt.quality, "JPEG quality")->check(CLI::Range(1, 100))->capture_default_str();
    app.add_option("--max-clients", opt.maxClients, "Streams served at once; more get 503")
        ->check(CLI::Range(1, 1000))
        ->capture_default_str();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitUsage;
    }
    std::string host;
    int port = 0;
    std::string wrong = CheckCameraOptions(opt, {0, 1});
    if (wrong.empty() && !ParseListen(opt.listen, &host, &port)) wrong = "--listen: '" + opt.listen + "' is not HOST:PORT";
    if (!wrong.empty()) {
        std::fprintf(stderr, "%s\nRun with --help for more information.\n", wrong.c_str());
        return kExitUsage;
    }

    // 2. Ctrl-C and SIGTERM shut down cleanly.
    InstallStopHandlers();

    // 3. Open the cameras; one that fails shows as failed, the others serve.
    std::map<int, std::unique_ptr<Camera>> cameras;
    std::vector<Camera *> reading;
    for (int id : opt.cameras) {
        auto cam = std::make_unique<Camera>(id, opt.quality);
        if (OpenCameraEx(id, opt.fps, opt.width, opt.height) != 0) {
            cam->Fail("opening camera " + std::to_string(id) + " failed; the library's report says why");
        } else {
            cam->StartEncoder();
            reading.push_back(cam.get());
        }
        cameras.emplace(id, std::move(cam));
    }

    // 4. The server.
    httplib::Server server;
    std::atomic<int> streams{0};
    std::atomic<bool> stopping{false};
    // Every stream holds a thread while it lasts; the rest share a few more.
    server.new_task_queue = [&] { return new httplib::ThreadPool(static_cast<size_t>(opt.maxClients) + 4); };
    const auto openCamera = [&](const httplib::Request &req) -> Camera * {
        const int id = std::stoi(req.matches[1].str());
        const auto it = cameras.find(id);
        return it == cameras.end() ? nullptr : it->second.get();
    };
    server.Get("/", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(kServePage, "text/html; charset=utf-8");
    });
    server.Get("/stats", [&](const httplib::Request &, httplib::Response &res) {
        std::string json = "{\"cameras\":[";
        for (auto &[id, cam] : cameras) json += (json.back() == '[' ? "" : ",") + cam->StatsJson();
        char process[160];
        std::snprintf(process, sizeof process, "],\"streams\":%d,\"threads\":%ld,\"rss_kib\":%ld,\"live_buffers\":%ld}",
                      streams.load(), ThreadCount(), ResidentKiB(), LiveBuffers());
        res.set_content(json + process, "application/json");
    });
    server.Get(R"(/snapshot/(\d+)\.jpg)", [&](const httplib::Request &req, httplib::Response &res) {
        Camera *cam = openCamera(req);
        Jpeg jpeg = cam != nullptr ? cam->Next(0, std::chrono::seconds(2)) : nullptr;
        if (jpeg == nullptr) {
            res.status = 404;
            res.set_content("no such camera, or it is not delivering\n", "text/plain");
            return;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(jpeg->bytes, "image/jpeg");
    });
    server.Get(R"(/stream/(\d+))", [&](const httplib::Request &req, httplib::Response &res) {
        Camera *cam = openCamera(req);
        if (cam == nullptr || cam->Next(0, std::chrono::seconds(2)) == nullptr) {
            res.status = 404;
            res.set_content("no such camera, or it is not delivering\n", "text/plain");
            return;
        }
        if (streams.fetch_add(1) >= opt.maxClients) {
            streams.fetch_sub(1);
            res.status = 503;
            res.set_header("Retry-After", "5");
            res.set_content("too many clients\n", "text/plain");
            return;
        }
        ++cam->clients;
        res.set_header("Cache-Control", "no-store");
        auto sent = std::make_shared<uint64_t>(0);
        res.set_chunked_content_provider(
            "multipart/x-mixed-replace; boundary=frame",
            [&, cam, sent](size_t, httplib::DataSink &sink) {
                // The newest frame when this client is ready for one.
                Jpeg jpeg;
                while (jpeg == nullptr) {
                    if (stopping.load()) return false;
                    jpeg = cam->Next(*sent, std::chrono::milliseconds(200));
                    if (jpeg == nullptr && !sink.is_writable()) return false;
                }
                *sent = jpeg->number;
                const std::string head = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                         std::to_string(jpeg->bytes.size()) + "\r\n\r\n";
                if (!sink.write(head.data(), head.size()) || !sink.write(jpeg->bytes.data(), jpeg->bytes.size()) ||
                    !sink.write("\r\n", 2)) {
                    return false;
                }
                cam->Delivered(jpeg->readAt);
                return true;
            },
            [&, cam](bool) {
                --cam->clients;
                streams.fetch_sub(1);
            });
    });

    const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
    if (bound < 0) {
        std::fprintf(stderr, "twincam-serve: cannot listen on %s\n", opt.listen.c_str());
        for (Camera *cam : reading) (void)CloseCameraEx(cam->id());
        return kExitFailure;
    }
    std::printf("twincam-serve: http://%s:%d/\n", host.c_str(), bound);
    std::fflush(stdout);

    // 5. Read, serve, until Ctrl-C or SIGTERM.
    std::atomic<bool> stopReading{false};
    std::thread reader([&] { ReadLoop(reading, stopReading); });
    std::thread listener([&] { server.listen_after_bind(); });
    while (!g_stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));

    // 6. Shut down: clients first, then the reader, the cameras and the encoders.
    stopping.store(true);
    server.stop();
    listener.join();
    stopReading.store(true);
    reader.join();
    for (auto &[id, cam] : cameras) cam->Stop();
    for (Camera *cam : reading) {
        if (CloseCameraEx(cam->id()) != 0) std::fprintf(stderr, "twincam-serve: closing camera %d failed\n", cam->id());
    }
    std::printf("twincam-serve: stopped\n");
    return kExitOk;
}
