#include "recorder.h"

#include <gst/app/gstappsrc.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "gst_frames.h"
#include "log.h"
#include "mp4_file.h"

namespace twincam::serve {
namespace {

namespace fs = std::filesystem;
using common::WallClock;

// Encoded frames that may wait for the file (ten seconds at 30 fps); past
// that the newest are dropped until the disk catches up.
constexpr guint64 kQueuedFrames = 300;
constexpr double kLeastFree = 0.05;

double FreeFraction(const std::string &dir) {
    struct statvfs st {};
    if (statvfs(dir.c_str(), &st) != 0 || st.f_blocks == 0) return 1.0;
    return static_cast<double>(st.f_bavail) / static_cast<double>(st.f_blocks);
}

}  // namespace

// One camera's recording: the run being written (from a key frame to the
// camera's going down, cut into segments by splitmuxsink) and runs that were
// told to end and are finishing their last segment.
struct Recorder::Track {
    struct Run {
        GstElement *pipeline = nullptr, *source = nullptr, *splitter = nullptr;
        GstClockTime nextCut = 0;  // a segment ends at the first key frame from here on
        std::unique_ptr<common::Mp4Saved> saved;
        Clock::time_point epoch{}, endedAt{};
        WallClock::time_point wall{};  // the wall clock at epoch
        ~Run();
    };

    Recorder *recorder = nullptr;
    Channel *channel = nullptr;
    std::string folder;
    int consumer = 0, watch = 0;
    std::mutex mutex;  // the runs and figures; taken on the encoder's, the reader's and the housekeeper's threads
    std::unique_ptr<Run> run;
    std::vector<std::unique_ptr<Run>> ending;
    bool failed = false;  // the last run failed: the housekeeper makes room, then the next key frame starts anew
    bool down = false;    // the camera is down: nothing starts until it is back (frames still in the encoder wait too)
    std::string lastError;
    long long bytesDone = 0;
    long deleted = 0;
    std::atomic<long> segments{0};

    void Take(const EncodedFrame &f);
    std::string StartRun(const EncodedFrame &first);
    void EndRun();
    bool Check();
    gchar *Name(GstSample *first, Run *run);
    RecorderFigures Figures();
};

Recorder::Track::Run::~Run() {
    if (pipeline == nullptr) return;
    gst_element_set_state(pipeline, GST_STATE_NULL);
    saved.reset();
    gst_object_unref(splitter);
    gst_object_unref(source);
    gst_object_unref(pipeline);
}

// On the encoder's thread: a run starts at a key frame; "no signal" is not recorded.
void Recorder::Track::Take(const EncodedFrame &f) {
    if (f.placeholder) return;
    std::lock_guard<std::mutex> lock(mutex);
    if (run == nullptr) {
        if (failed || down || !f.key) return;
        if (const std::string error = StartRun(f); !error.empty()) {
            if (error != lastError) Log("recording camera %d: %s", channel->id(), error.c_str());
            lastError = error;
            failed = true;
            return;
        }
    }
    const auto pts =
        static_cast<GstClockTime>(std::chrono::duration_cast<std::chrono::nanoseconds>(f.readAt - run->epoch).count());
    if (f.key && pts >= run->nextCut) {
        // This key frame starts a segment (the run's first, or the cut asked
        // for): the next is asked for a whole segment on, so none is shorter.
        run->nextCut = pts + static_cast<GstClockTime>(recorder->settings_.segmentSeconds) * GST_SECOND;
        g_signal_emit_by_name(run->splitter, "split-at-running-time", run->nextCut);
    }
    GstBuffer *buffer = gst_buffer_copy(f.buffer);  // the same memory, times of its own
    GST_BUFFER_PTS(buffer) = GST_BUFFER_DTS(buffer) = pts;
    gst_app_src_push_buffer(GST_APP_SRC(run->source), buffer);
}

gchar *Recorder::Track::Name(GstSample *first, Run *r) {
    const GstClockTime pts = GST_BUFFER_PTS(gst_sample_get_buffer(first));
    const WallClock::time_point start = r->wall + std::chrono::nanoseconds(pts);
    ++segments;
    // Hidden until its first fragment is whole (common::Mp4Saved names it then).
    return g_strdup((fs::path(folder) / ("." + Recordings::Name(start))).c_str());
}

std::string Recorder::Track::StartRun(const EncodedFrame &first) {
    const std::string launch =
        "appsrc name=src ! h264parse ! " + common::Mp4PiecesDescription((fs::path(folder) / "%05d.mp4").string());
    GError *error = nullptr;
    auto r = std::make_unique<Run>();
    r->pipeline = gst_parse_launch(launch.c_str(), &error);
    if (error != nullptr) {
        std::string why = error->message;
        g_error_free(error);
        if (r->pipeline != nullptr) gst_object_unref(r->pipeline);
        r->pipeline = nullptr;
        return "cannot make the recording pipeline: " + why;
    }
    r->source = gst_bin_get_by_name(GST_BIN(r->pipeline), "src");
    r->saved = std::make_unique<common::Mp4Saved>(r->pipeline);
    r->splitter = gst_bin_get_by_name(GST_BIN(r->pipeline), "file");
    g_signal_connect(r->splitter, "format-location-full",
                     G_CALLBACK(+[](GstElement *, guint, GstSample *sample, Run *run) {
                         return static_cast<Track *>(g_object_get_data(G_OBJECT(run->pipeline), "track"))->Name(sample, run);
                     }),
                     r.get());
    g_object_set_data(G_OBJECT(r->pipeline), "track", this);
    g_object_set(r->source, "caps", first.caps, "format", GST_FORMAT_TIME, "max-buffers", kQueuedFrames, "max-bytes",
                 guint64{0}, "leaky-type", GST_APP_LEAKY_TYPE_UPSTREAM, nullptr);
    r->epoch = first.readAt;
    r->wall = first.wallAt == WallClock::time_point{} ? WallClock::now() : first.wallAt;
    if (gst_element_set_state(r->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        return "the recording does not start: " + common::BusError(r->pipeline, 0);
    }
    run = std::move(r);
    lastError.clear();
    return "";
}

// The run's end of stream lets its last segment get its index; the housekeeper reaps it.
void Recorder::Track::EndRun() {
    if (run == nullptr) return;
    gst_app_src_end_of_stream(GST_APP_SRC(run->source));
    run->endedAt = Clock::now();
    ending.push_back(std::move(run));
}

// Once a second: a run that failed is torn down, runs that ended are reaped.
// True when a write failed for lack of space.
bool Recorder::Track::Check() {
    std::lock_guard<std::mutex> lock(mutex);
    bool spaceShort = false;
    if (run != nullptr) {
        if (const std::string error = common::BusError(run->pipeline, 0); !error.empty()) {
            spaceShort = error.find("space") != std::string::npos;
            const std::string file = run->saved->Location();
            if (error != lastError && spaceShort) {
                Log("recording camera %d: the disk is full (writing %s): deleting the oldest segments to make room; "
                    "recording goes on at the next key frame",
                    channel->id(), file.c_str());
            } else if (error != lastError) {
                Log("recording camera %d: writing %s failed (%s); trying again at the next key frame", channel->id(),
                    file.c_str(), error.c_str());
            }
            lastError = error;
            bytesDone += run->saved->Bytes();
            run.reset();
            failed = true;
        }
    } else if (failed) {
        failed = false;  // room was made: try again at the next key frame
        channel->h264().KeyFrame();
    }
    for (auto it = ending.begin(); it != ending.end();) {
        GstBus *bus = gst_element_get_bus((*it)->pipeline);
        GstMessage *end = gst_bus_pop_filtered(bus, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        gst_object_unref(bus);
        if (end != nullptr) gst_message_unref(end);
        if (end == nullptr && Clock::now() - (*it)->endedAt < std::chrono::seconds(10)) {
            ++it;
            continue;
        }
        bytesDone += (*it)->saved->Bytes();
        it = ending.erase(it);
    }
    return spaceShort;
}

RecorderFigures Recorder::Track::Figures() {
    std::lock_guard<std::mutex> lock(mutex);
    RecorderFigures f;
    f.on = run != nullptr;
    f.bytes = bytesDone + (run ? run->saved->Bytes() : 0);
    for (const auto &r : ending) f.bytes += r->saved->Bytes();
    f.segments = segments.load();
    f.deleted = deleted;
    return f;
}

Recorder::Recorder(Channels &channels, Settings settings)
    : channels_(channels), settings_(std::move(settings)), recordings_(settings_.dir, [&] {
          std::vector<int> ids;
          for (Channel *c : channels.all()) ids.push_back(c->id());
          return ids;
      }()) {}

Recorder::~Recorder() { Stop(); }

bool Recorder::Start(std::string *error) {
    common::InitGStreamer();
    *error = common::CheckH264Pipeline({"appsrc", "appsink", "h264parse", "mp4mux", "splitmuxsink"}, settings_.encoder);
    if (!error->empty()) {
        *error = "--record: " + *error;
        return false;
    }
    for (Channel *channel : channels_.all()) {
        const std::string folder = recordings_.Folder(channel->id());
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec || access(folder.c_str(), W_OK) != 0) {
            *error = "--record: cannot write " + folder + ": " + (ec ? ec.message() : std::strerror(errno));
            return false;
        }
        // What a crash left under a hidden name never had a whole fragment.
        for (const fs::directory_entry &e : fs::directory_iterator(folder, ec)) {
            const std::string name = e.path().filename().string();
            if (name.size() > 1 && name[0] == '.' && e.path().extension() == ".mp4") fs::remove(e.path(), ec);
        }
        auto track = std::make_unique<Track>();
        Track *t = track.get();
        t->recorder = this;
        t->channel = channel;
        t->folder = folder;
        t->consumer = channel->h264().Attach([t](const EncodedFrame &f) { t->Take(f); });
        t->watch = channel->Watch([t](bool up) {
            std::lock_guard<std::mutex> lock(t->mutex);
            t->down = !up;
            if (!up) t->EndRun();
        });
        channel->AddFigures([t](ChannelFigures &f) { f.recorder = t->Figures(); });
        tracks_.push_back(std::move(track));
    }
    housekeeper_.Start(std::chrono::seconds(1), [this] { Housekeep(); });
    return true;
}

void Recorder::Housekeep() {
    bool spaceShort = false;
    for (auto &t : tracks_) spaceShort = t->Check() || spaceShort;
    Retain(spaceShort);
}

// The oldest segments go first; what a run is writing (or finishing) never does.
void Recorder::Retain(bool spaceShort) {
    std::set<std::string> writing;
    for (auto &t : tracks_) {
        std::lock_guard<std::mutex> lock(t->mutex);
        if (t->run != nullptr) writing.insert(t->run->saved->Location());
        for (const auto &r : t->ending) writing.insert(r->saved->Location());
    }
    std::vector<Segment> segments = recordings_.List();
    long long total = 0;
    for (const Segment &s : segments) total += s.bytes;
    const WallClock::time_point now = WallClock::now();
    for (const Segment &s : segments) {
        if (writing.count(s.path) > 0) continue;
        const bool old = settings_.maxAgeSeconds > 0 &&
                         now - s.start - std::chrono::duration<double>(s.seconds) >
                             std::chrono::duration<double>(settings_.maxAgeSeconds);
        const bool big = settings_.maxBytes > 0 && total > settings_.maxBytes;
        const bool full = spaceShort || FreeFraction(settings_.dir) < kLeastFree;
        if (!old && !big && !full) continue;
        std::error_code ec;
        if (!fs::remove(s.path, ec)) continue;
        total -= s.bytes;
        spaceShort = false;  // one segment for a failed write, then as long as the disk is short
        for (auto &t : tracks_) {
            if (t->channel->id() != s.camera) continue;
            std::lock_guard<std::mutex> lock(t->mutex);
            ++t->deleted;
        }
    }
}

void Recorder::Stop() {
    if (std::exchange(stopped_, true)) return;
    housekeeper_.Stop();
    for (auto &t : tracks_) {
        t->channel->Unwatch(t->watch);
        t->channel->h264().Detach(t->consumer);
        std::lock_guard<std::mutex> lock(t->mutex);
        t->EndRun();
        // Every segment gets its index and duration before the server goes.
        for (auto &r : t->ending) common::AwaitEnd(r->pipeline, 5 * GST_SECOND);
        t->ending.clear();
    }
}

}  // namespace twincam::serve
