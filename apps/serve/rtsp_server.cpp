#include "rtsp_server.h"

#include <gst/app/gstappsrc.h>
#include <gst/video/video-event.h>

#include <cstdio>
#include <deque>
#include <mutex>
#include <utility>

#include "gst_frames.h"
#include "rtsp_auth.h"

namespace twincam::serve {

using common::Clock;
using common::FramePtr;

namespace {
// Frames the encoder may have waiting; a viewer wants the newest, so past
// this the oldest is dropped.
constexpr int kQueuedFrames = 2;
// Request bodies: RTSP clients send none worth more than this.
constexpr guint kMaxRequestBody = 4096;
}  // namespace

// One camera's mount. While a client watches, its media's appsrc takes the
// frames the reader taps. For the sent figure, each frame's read time is
// kept by its presentation time until it enters the encoder, and then in
// order until its RTP packets leave (the encoder shifts the times it
// stamps, but keeps the order and the count).
struct RtspServer::Camera {
    RtspServer *server = nullptr;
    CameraFeed *feed = nullptr;
    std::mutex mutex;
    GstRTSPMedia *media = nullptr;  // the one running, not referenced
    GstElement *source = nullptr;   // its appsrc
    GstElement *payloader = nullptr;
    int tap = 0;
    std::deque<std::pair<GstClockTime, Clock::time_point>> queued;  // pushed, by time
    std::deque<Clock::time_point> encoding;                        // in the encoder, in order
    GstClockTime lastSent = GST_CLOCK_TIME_NONE;

    void Push(GstElement *src, const FramePtr &frame);
    void Encoding(GstClockTime pts);
    void Sent(GstClockTime pts);
    void Configure(GstRTSPMedia *media);
    void Unprepared(GstRTSPMedia *ended);  // nullptr: whichever runs
    void KeyFrame();
};

// On the reading thread. Frames are wanted only while the media plays:
// before, the source gets its clock a moment ahead of its base time, and a
// frame stamped in between would wait for its time for ever; while paused,
// the base time is about to change.
void RtspServer::Camera::Push(GstElement *src, const FramePtr &frame) {
    GST_OBJECT_LOCK(src);
    const bool playing = GST_STATE(src) == GST_STATE_PLAYING;
    GST_OBJECT_UNLOCK(src);
    GstClock *clock = playing ? gst_element_get_clock(src) : nullptr;
    if (clock == nullptr) return;
    const GstClockTime pts = gst_clock_get_time(clock) - gst_element_get_base_time(src);
    gst_object_unref(clock);
    GstBuffer *buffer = common::WrapFrame(frame);
    GST_BUFFER_PTS(buffer) = pts;
    {
        std::lock_guard<std::mutex> lock(mutex);
        queued.emplace_back(pts, frame->readAt);
        if (queued.size() > 64) queued.pop_front();
    }
    gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
    // "No signal" comes twice a second: each a key frame, so that a client
    // that joins during an outage has a picture at once.
    if (frame->placeholder) KeyFrame();
}

// The encoder makes its next frame a key frame.
void RtspServer::Camera::KeyFrame() {
    GstElement *pay = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (payloader != nullptr) pay = GST_ELEMENT(gst_object_ref(payloader));
    }
    if (pay == nullptr) return;
    gst_element_send_event(pay, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
    gst_object_unref(pay);
}

// A frame the appsrc did not drop enters the encoder.
void RtspServer::Camera::Encoding(GstClockTime pts) {
    std::lock_guard<std::mutex> lock(mutex);
    while (!queued.empty() && queued.front().first < pts) queued.pop_front();
    if (queued.empty() || queued.front().first != pts) return;
    encoding.push_back(queued.front().second);
    if (encoding.size() > 64) encoding.pop_front();
}

// A payloaded frame leaves: the first packet of each counts.
void RtspServer::Camera::Sent(GstClockTime pts) {
    std::lock_guard<std::mutex> lock(mutex);
    if (pts == lastSent || encoding.empty()) return;
    lastSent = pts;
    feed->Sent(encoding.front());
    encoding.pop_front();
}

GstBuffer *ProbedBuffer(GstPadProbeInfo *info) {
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) return GST_PAD_PROBE_INFO_BUFFER(info);
    GstBufferList *list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
    return gst_buffer_list_length(list) > 0 ? gst_buffer_list_get(list, 0) : nullptr;
}

// Calls probe, with camera, on every buffer that leaves element's src pad.
void Watch(GstElement *element, RtspServer::Camera *camera, GstPadProbeCallback probe) {
    GstPad *pad = gst_element_get_static_pad(element, "src");
    gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      probe, camera, nullptr);
    gst_object_unref(pad);
}

// A media is made for the first client: its appsrc starts taking frames.
void RtspServer::Camera::Configure(GstRTSPMedia *media) {
    GstElement *bin = gst_rtsp_media_get_element(media);
    GstElement *src = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "src");
    GstElement *pay = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "pay0");
    gst_object_unref(bin);
    const Settings &settings = server->settings_;
    common::ConfigureFrameSource(src, settings.width, settings.height, settings.fps, kQueuedFrames,
                                 common::FrameUse::kLiveView);
    Watch(src, this, [](GstPad *, GstPadProbeInfo *info, gpointer cam) {
        if (GstBuffer *b = ProbedBuffer(info)) static_cast<Camera *>(cam)->Encoding(GST_BUFFER_PTS(b));
        return GST_PAD_PROBE_OK;
    });
    Watch(pay, this, [](GstPad *, GstPadProbeInfo *info, gpointer cam) {
        if (GstBuffer *b = ProbedBuffer(info)) static_cast<Camera *>(cam)->Sent(GST_BUFFER_PTS(b));
        return GST_PAD_PROBE_OK;
    });
    g_signal_connect(media, "unprepared", G_CALLBACK(+[](GstRTSPMedia *m, Camera *cam) { cam->Unprepared(m); }), this);
    {
        std::lock_guard<std::mutex> lock(mutex);
        this->media = media;
        source = src;
        payloader = pay;
    }
    // Not under mutex: the reader holds the feed's taps while a tap takes it.
    const int id = feed->AddTap([this, src](const FramePtr &frame) { Push(src, frame); });
    std::lock_guard<std::mutex> lock(mutex);
    tap = id;
    feed->h264Running = true;
}

// The last client left (or the server stops): the encoder stops.
void RtspServer::Camera::Unprepared(GstRTSPMedia *ended) {
    int id = 0;
    GstElement *src = nullptr, *pay = nullptr;
    {
        // A media that ends after its successor started leaves it alone.
        std::lock_guard<std::mutex> lock(mutex);
        if (ended != nullptr && ended != media) return;
        media = nullptr;
        id = std::exchange(tap, 0);
        src = std::exchange(source, nullptr);
        pay = std::exchange(payloader, nullptr);
        queued.clear();
        encoding.clear();
        lastSent = GST_CLOCK_TIME_NONE;
        feed->h264Running = false;
    }
    // As in Configure, not under mutex; once it returns, no frame is pushed.
    if (id != 0) feed->RemoveTap(id);
    if (src != nullptr) gst_object_unref(src);
    if (pay != nullptr) gst_object_unref(pay);
}

namespace {
std::string MountPath(int camera) { return "/cam" + std::to_string(camera); }
}  // namespace

RtspServer::RtspServer(Served &served, Settings settings) : served_(served), settings_(std::move(settings)) {}

RtspServer::~RtspServer() { Stop(); }

void RtspServer::Mount(CameraFeed *feed, GstRTSPMountPoints *mounts) {
    auto camera = std::make_unique<Camera>();
    camera->server = this;
    camera->feed = feed;
    GstRTSPMediaFactory *factory = gst_rtsp_media_factory_new();
    const std::string launch =
        "( appsrc name=src ! " + settings_.encoder + " ! h264parse ! rtph264pay name=pay0 pt=96 config-interval=-1 )";
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    gst_rtsp_media_factory_set_shared(factory, TRUE);  // one encoder for every client
    if (settings_.users != nullptr) AllowSignedIn(factory);
    g_signal_connect(factory, "media-configure",
                     G_CALLBACK(+[](GstRTSPMediaFactory *, GstRTSPMedia *media, Camera *cam) { cam->Configure(media); }),
                     camera.get());
    const std::string path = MountPath(feed->id());
    gst_rtsp_mount_points_add_factory(mounts, path.c_str(), factory);  // takes the factory
    feed->SetRtspUrl("rtsp://" + settings_.host + ":" + std::to_string(port_) + path);
    cameras_.push_back(std::move(camera));
}

RtspServer::Camera *RtspServer::CameraAt(const char *path) {
    int id = -1;
    char rest = 0;
    if (path == nullptr || std::sscanf(path, "/cam%d%c", &id, &rest) < 1 || (rest != 0 && rest != '/')) return nullptr;
    return CameraWithId(id);
}

RtspServer::Camera *RtspServer::CameraWithId(int id) {
    for (auto &camera : cameras_) {
        if (camera->feed->id() == id) return camera.get();
    }
    return nullptr;
}

// Past the cap a connection is closed at once (once the server has set it
// up); every connection is watched for playing nothing too long.
void RtspServer::Connected(GstRTSPClient *client) {
    if (!Admit(client)) {
        GSource *later = g_idle_source_new();
        g_source_set_callback(
            later, +[](gpointer c) { return gst_rtsp_client_close(GST_RTSP_CLIENT(c)), G_SOURCE_REMOVE; },
            g_object_ref(client), g_object_unref);
        g_source_attach(later, context_);
        g_source_unref(later);
        return;
    }
    gst_rtsp_client_set_content_length_limit(client, kMaxRequestBody);
    g_signal_connect(client, "play-request", G_CALLBACK(+[](GstRTSPClient *c, GstRTSPContext *ctx, RtspServer *self) {
                         self->Playing(c, ctx->uri ? ctx->uri->abspath : nullptr, true);
                     }),
                     this);
    g_signal_connect(client, "teardown-request",
                     G_CALLBACK(+[](GstRTSPClient *c, GstRTSPContext *ctx, RtspServer *self) {
                         self->Playing(c, ctx->uri ? ctx->uri->abspath : nullptr, false);
                     }),
                     this);
    g_signal_connect(client, "closed", G_CALLBACK(+[](GstRTSPClient *c, RtspServer *self) { self->Closed(c); }), this);
}

bool RtspServer::Admit(GstRTSPClient *client) {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    if (static_cast<int>(clients_.size()) >= settings_.maxClients) return false;
    clients_[client].idleSince = Clock::now();
    return true;
}

void RtspServer::Playing(GstRTSPClient *client, const char *path, bool playing) {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    const auto it = clients_.find(client);
    Camera *camera = CameraAt(path);
    if (it == clients_.end() || camera == nullptr) return;
    std::set<int> &cameras = it->second.playing;
    const int id = camera->feed->id();
    if (playing && cameras.insert(id).second) {
        ++camera->feed->rtspClients;
        camera->KeyFrame();  // a picture at once, not at the next key frame
    }
    if (!playing && cameras.erase(id) > 0) --camera->feed->rtspClients;
    if (cameras.empty()) it->second.idleSince = Clock::now();
}

void RtspServer::Closed(GstRTSPClient *client) {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    const auto it = clients_.find(client);
    if (it == clients_.end()) return;
    for (const int id : it->second.playing) --CameraWithId(id)->feed->rtspClients;
    clients_.erase(it);
}

// Every half second: connections that play nothing hold a slot for nobody
// and are closed after a while.
void RtspServer::CloseIdle() {
    const Clock::time_point deadline = Clock::now() - std::chrono::seconds(settings_.setupSeconds);
    std::vector<GstRTSPClient *> idle;
    {
        // Referenced here, closed outside: closing one calls Closed.
        std::lock_guard<std::mutex> lock(clientsMutex_);
        for (const auto &[client, state] : clients_) {
            if (state.playing.empty() && state.idleSince < deadline) idle.push_back(GST_RTSP_CLIENT(g_object_ref(client)));
        }
    }
    for (GstRTSPClient *client : idle) {
        gst_rtsp_client_close(client);
        g_object_unref(client);
    }
}

bool RtspServer::Listen(std::string *error) {
    server_ = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server_, settings_.host.c_str());
    gst_rtsp_server_set_service(server_, std::to_string(settings_.port).c_str());
    gst_rtsp_server_set_content_length_limit(server_, kMaxRequestBody);
    if (settings_.users != nullptr) {
        GstRTSPAuth *auth = MakeRtspAuth(settings_.users);
        gst_rtsp_server_set_auth(server_, auth);
        g_object_unref(auth);
    }
    g_signal_connect(server_, "client-connected",
                     G_CALLBACK(+[](GstRTSPServer *, GstRTSPClient *c, RtspServer *self) { self->Connected(c); }), this);
    GError *failure = nullptr;
    GSource *source = gst_rtsp_server_create_source(server_, nullptr, &failure);
    if (source == nullptr) {
        *error = "--rtsp " + settings_.host + ":" + std::to_string(settings_.port) + ": " +
                 (failure ? failure->message : "cannot listen");
        if (failure) g_error_free(failure);
        return false;
    }
    g_source_attach(source, context_);
    g_source_unref(source);
    port_ = gst_rtsp_server_get_bound_port(server_);
    return true;
}

bool RtspServer::Start(std::string *error) {
    common::InitGStreamer();
    *error = common::CheckH264Pipeline({"appsrc", "h264parse", "rtph264pay"}, settings_.encoder);
    if (!error->empty()) {
        *error = "RTSP: " + *error;
        return false;
    }
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    if (!Listen(error)) return false;
    GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(server_);
    for (auto &[id, feed] : served_.feeds) Mount(feed.get(), mounts);
    g_object_unref(mounts);
    // Sessions whose client vanished expire; idle connections are closed.
    GstRTSPSessionPool *pool = gst_rtsp_server_get_session_pool(server_);
    GSource *expiry = gst_rtsp_session_pool_create_watch(pool);
    GstRTSPSessionPoolFunc cleanup = [](GstRTSPSessionPool *p, gpointer) -> gboolean {
        gst_rtsp_session_pool_cleanup(p);
        return G_SOURCE_CONTINUE;
    };
    // The watch calls its own function type through GSource's.
    g_source_set_callback(expiry, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(cleanup)), nullptr,
                          nullptr);
    g_source_attach(expiry, context_);
    g_source_unref(expiry);
    g_object_unref(pool);
    GSource *tick = g_timeout_source_new(500);
    g_source_set_callback(
        tick, +[](gpointer self) -> gboolean { return static_cast<RtspServer *>(self)->CloseIdle(), G_SOURCE_CONTINUE; },
        this, nullptr);
    g_source_attach(tick, context_);
    g_source_unref(tick);
    thread_ = std::thread([this] {
        g_main_context_push_thread_default(context_);
        g_main_loop_run(loop_);
        g_main_context_pop_thread_default(context_);
    });
    return true;
}

void RtspServer::Stop() {
    if (thread_.joinable()) {
        // In the loop: every client goes, and with the last of its clients each media.
        g_main_context_invoke(
            context_,
            +[](gpointer self) -> gboolean {
                auto *server = static_cast<RtspServer *>(self);
                // Unheard from now: a client's thread may report it closed after the server is gone.
                gst_rtsp_server_client_filter(
                    server->server_,
                    +[](GstRTSPServer *, GstRTSPClient *client, gpointer self) {
                        g_signal_handlers_disconnect_by_data(client, self);
                        return GST_RTSP_FILTER_REMOVE;
                    },
                    server);
                g_main_loop_quit(server->loop_);
                return G_SOURCE_REMOVE;
            },
            this);
        thread_.join();
    }
    if (server_ != nullptr) {
        // Sessions outlive their connections; ending them ends their media.
        GstRTSPSessionPool *pool = gst_rtsp_server_get_session_pool(server_);
        gst_rtsp_session_pool_filter(
            pool, +[](GstRTSPSessionPool *, GstRTSPSession *, gpointer) { return GST_RTSP_FILTER_REMOVE; }, nullptr);
        g_object_unref(pool);
        g_object_unref(server_);
        server_ = nullptr;
        // A client's thread may still be finishing a request, which can end
        // a media and call back into the cameras: wait until every one is done.
        gst_rtsp_thread_pool_cleanup();
    }
    for (auto &camera : cameras_) camera->Unprepared(nullptr);
    if (loop_ != nullptr) g_main_loop_unref(loop_);
    if (context_ != nullptr) g_main_context_unref(context_);
    loop_ = nullptr;
    context_ = nullptr;
}

std::unique_ptr<RtspService> StartRtsp(const Options &opt, Served &served, const Htpasswd *users, std::string *error) {
    if (!opt.rtspOn) return nullptr;
    RtspServer::Settings settings;
    settings.host = opt.rtspHost;
    settings.port = opt.rtspPort;
    settings.encoder = common::EncoderFragment(opt.h264, opt.fps);
    settings.fps = opt.fps;
    settings.width = opt.width;
    settings.height = opt.height;
    settings.maxClients = opt.limits.maxStreams;
    settings.setupSeconds = opt.limits.headSeconds;
    settings.users = users;
    auto server = std::make_unique<RtspServer>(served, settings);
    if (!server->Start(error)) return nullptr;
    return server;
}

}  // namespace twincam::serve
