#include "rtsp_server.h"

#include <gst/app/gstappsrc.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>
#include <mutex>
#include <utility>

#include "gst_frames.h"
#include "rtsp_auth.h"

namespace twincam::serve {

using common::Clock;
using common::FramePtr;

namespace {
// Access units a media may have waiting; past it a slow media skips to the
// next key frame rather than holding up the encoder or growing.
constexpr guint kQueuedFrames = 30;
// Request bodies: RTSP clients send none worth more than this.
constexpr guint kMaxRequestBody = 4096;
// What a connection may send before it plays (request heads and all), and
// in any one look while it plays (its RTCP reports are far less).
constexpr uint64_t kMaxHead = 32 * 1024;
// Connections waiting to be accepted: a burst is queued, not refused.
constexpr int kBacklog = 1024;
}  // namespace

// One camera's mount. While a client watches, its media's appsrc takes the
// access units of the camera's encoder, restamped to the media's clock; for
// the sent figure, each one's read time is kept by that stamp until its RTP
// packets leave.
struct RtspServer::RtspMount {
    Channel *channel = nullptr;
    std::string url;
    std::atomic<int> clients{0};  // playing
    std::mutex mutex;
    GstRTSPMedia *media = nullptr;  // the one running, not referenced
    GstElement *source = nullptr;   // its appsrc
    int consumer = 0;
    bool capsSet = false, skipping = true;  // until a key frame: a media starts at one
    bool keyAsked = false;                   // while skipping
    std::deque<std::pair<GstClockTime, Clock::time_point>> queued;  // pushed, by time
    GstClockTime lastSent = GST_CLOCK_TIME_NONE;
    common::RecentValues sentMs{1024};

    void Push(GstElement *src, const EncodedFrame &frame);
    void Sent(GstClockTime pts);
    void Configure(GstRTSPMedia *media);
    void Unprepared(GstRTSPMedia *ended);  // nullptr: whichever runs
    RtspFigures Figures();
};

// On the encoder's thread. Frames are wanted only while the media plays:
// before, the source gets its clock a moment ahead of its base time, and a
// frame stamped in between would wait for its time for ever; while paused,
// the base time is about to change.
void RtspServer::RtspMount::Push(GstElement *src, const EncodedFrame &frame) {
    GST_OBJECT_LOCK(src);
    const bool playing = GST_STATE(src) == GST_STATE_PLAYING;
    GST_OBJECT_UNLOCK(src);
    GstClock *clock = playing ? gst_element_get_clock(src) : nullptr;
    if (clock == nullptr) return;
    const GstClockTime pts = gst_clock_get_time(clock) - gst_element_get_base_time(src);
    gst_object_unref(clock);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (src != source) return;
        // A media that fell behind resumes at a key frame: anything else would not decode.
        skipping = (skipping || gst_app_src_get_current_level_buffers(GST_APP_SRC(src)) >= kQueuedFrames) && !frame.key;
        if (skipping) {
            // The key frame asked for as the client played may have come before the media did.
            if (!std::exchange(keyAsked, true)) channel->h264().KeyFrame();
            return;
        }
        keyAsked = false;
        if (!std::exchange(capsSet, true)) g_object_set(src, "caps", frame.caps, nullptr);
        queued.emplace_back(pts, frame.readAt);
        if (queued.size() > 64) queued.pop_front();
    }
    GstBuffer *buffer = gst_buffer_copy(frame.buffer);  // the same memory, the media's own times
    GST_BUFFER_PTS(buffer) = GST_BUFFER_DTS(buffer) = pts;
    gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
}

// A payloaded frame leaves: the first packet of each counts.
void RtspServer::RtspMount::Sent(GstClockTime pts) {
    std::lock_guard<std::mutex> lock(mutex);
    if (pts == lastSent) return;
    lastSent = pts;
    while (!queued.empty() && queued.front().first < pts) queued.pop_front();
    if (queued.empty() || queued.front().first != pts) return;
    sentMs.Add(std::chrono::duration<double, std::milli>(Clock::now() - queued.front().second).count());
    queued.pop_front();
}

GstBuffer *ProbedBuffer(GstPadProbeInfo *info) {
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) return GST_PAD_PROBE_INFO_BUFFER(info);
    GstBufferList *list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
    return gst_buffer_list_length(list) > 0 ? gst_buffer_list_get(list, 0) : nullptr;
}

// A media is made for the first client: its appsrc starts taking the camera's H.264.
void RtspServer::RtspMount::Configure(GstRTSPMedia *made) {
    GstElement *bin = gst_rtsp_media_get_element(made);
    GstElement *src = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "src");
    GstElement *pay = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "pay0");
    gst_object_unref(bin);
    g_object_set(src, "format", GST_FORMAT_TIME, "is-live", TRUE, "max-buffers", guint64{0}, nullptr);
    GstPad *pad = gst_element_get_static_pad(pay, "src");
    gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      [](GstPad *, GstPadProbeInfo *info, gpointer mount) {
                          if (GstBuffer *b = ProbedBuffer(info)) static_cast<RtspMount *>(mount)->Sent(GST_BUFFER_PTS(b));
                          return GST_PAD_PROBE_OK;
                      },
                      this, nullptr);
    gst_object_unref(pad);
    gst_object_unref(pay);
    g_signal_connect(made, "unprepared", G_CALLBACK(+[](GstRTSPMedia *m, RtspMount *mount) { mount->Unprepared(m); }), this);
    {
        std::lock_guard<std::mutex> lock(mutex);
        media = made;
        source = src;
        capsSet = keyAsked = false;
        skipping = true;
    }
    // Not under mutex: the encoder holds its consumers while one takes it.
    const int id = channel->h264().Attach([this, src](const EncodedFrame &frame) { Push(src, frame); });
    std::lock_guard<std::mutex> lock(mutex);
    consumer = id;
}

// The last client left (or the server stops): the mount lets go of the encoder.
void RtspServer::RtspMount::Unprepared(GstRTSPMedia *ended) {
    int id = 0;
    GstElement *src = nullptr;
    {
        // A media that ends after its successor started leaves it alone.
        std::lock_guard<std::mutex> lock(mutex);
        if (ended != nullptr && ended != media) return;
        media = nullptr;
        id = std::exchange(consumer, 0);
        src = std::exchange(source, nullptr);
        queued.clear();
        lastSent = GST_CLOCK_TIME_NONE;
    }
    // As in Configure, not under mutex; once it returns, nothing is pushed.
    if (id != 0) channel->h264().Detach(id);
    if (src != nullptr) gst_object_unref(src);
}

RtspFigures RtspServer::RtspMount::Figures() {
    std::lock_guard<std::mutex> lock(mutex);
    const common::Spread sent = sentMs.Summary();
    return RtspFigures{url, clients.load(), sent.median, sent.p99};
}

namespace {
std::string MountPath(int camera) { return "/cam" + std::to_string(camera); }
}  // namespace

RtspServer::RtspServer(Channels &channels, Settings settings) : channels_(channels), settings_(std::move(settings)) {}

RtspServer::~RtspServer() { Stop(); }

void RtspServer::Mount(Channel *channel, GstRTSPMountPoints *mounts) {
    auto mount = std::make_unique<RtspMount>();
    mount->channel = channel;
    GstRTSPMediaFactory *factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, "( appsrc name=src ! h264parse ! rtph264pay name=pay0 pt=96 config-interval=-1 )");
    gst_rtsp_media_factory_set_shared(factory, TRUE);  // packetised once for every client
    if (auth_ != nullptr) AllowSignedIn(factory);
    g_signal_connect(factory, "media-configure",
                     G_CALLBACK(+[](GstRTSPMediaFactory *, GstRTSPMedia *media, RtspMount *m) { m->Configure(media); }),
                     mount.get());
    const std::string path = MountPath(channel->id());
    gst_rtsp_mount_points_add_factory(mounts, path.c_str(), factory);  // takes the factory
    mount->url = (settings_.tls != nullptr ? "rtsps://" : "rtsp://") + settings_.host + ":" + std::to_string(port_) +
                 path;
    channel->AddFigures([m = mount.get()](ChannelFigures &f) { f.rtsp = m->Figures(); });
    mounts_.push_back(std::move(mount));
}

// "/cam<ID>", or "/cam<ID>/<stream>" as clients ask for SETUP.
RtspServer::RtspMount *RtspServer::MountAt(const char *path) {
    const std::string_view p = path != nullptr ? path : "";
    if (p.substr(0, 4) != "/cam") return nullptr;
    const std::optional<int> id = CameraId(p.substr(4, p.find('/', 4) - 4));
    return id ? MountOf(*id) : nullptr;
}

RtspServer::RtspMount *RtspServer::MountOf(int id) {
    for (auto &mount : mounts_) {
        if (mount->channel->id() == id) return mount.get();
    }
    return nullptr;
}

namespace {

GSocket *SocketOf(GstRTSPClient *client) {
    return gst_rtsp_connection_get_read_socket(gst_rtsp_client_get_connection(client));
}

// Bytes the kernel has taken in on the client's socket (TLS included).
uint64_t Received(GstRTSPClient *client) {
    GSocket *socket = SocketOf(client);
    tcp_info info{};
    socklen_t size = sizeof info;
    if (socket == nullptr || getsockopt(g_socket_get_fd(socket), IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return 0;
    return info.tcpi_bytes_received;
}

// Ends a connection from outside its thread: its socket is shut down, and
// its own thread, reading the end, closes it (closing it from here would
// pull the connection from under a read in progress).
void Hangup(GstRTSPClient *client) {
    if (GSocket *socket = SocketOf(client)) {
        g_socket_shutdown(socket, TRUE, TRUE, nullptr);
    }
}

// A request head that will not end: 400, then closed.
void RefuseHead(GstRTSPClient *client) {
    GstRTSPMessage *response = nullptr;
    gst_rtsp_message_new_response(&response, GST_RTSP_STS_BAD_REQUEST, "Request Head Too Large", nullptr);
    gst_rtsp_client_send_message(client, nullptr, response);
    gst_rtsp_message_free(response);
}

}  // namespace

// Past the caps a connection is closed at once; every connection is
// watched for playing nothing too long, and for sending too much.
void RtspServer::Connected(GstRTSPClient *client) {
    if (!Admit(client)) {
        Hangup(client);
        return;
    }
    gst_rtsp_client_set_content_length_limit(client, kMaxRequestBody);
    g_signal_connect(client, "pre-play-request",
                     G_CALLBACK(+[](GstRTSPClient *c, GstRTSPContext *, RtspServer *self) {
                         return self->MayPlay(c) ? GST_RTSP_STS_OK : GST_RTSP_STS_SERVICE_UNAVAILABLE;
                     }),
                     this);
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
    const std::string address = gst_rtsp_connection_get_ip(gst_rtsp_client_get_connection(client));
    std::lock_guard<std::mutex> lock(clientsMutex_);
    if (static_cast<int>(clients_.size()) >= settings_.maxConnections ||
        perAddress_[address] >= settings_.maxPerAddress) {
        if (perAddress_[address] == 0) perAddress_.erase(address);
        return false;
    }
    ++perAddress_[address];
    Client &added = clients_[client];
    added.address = address;
    added.idleSince = Clock::now();
    return true;
}

// A connection that has not played holds no viewer's slot: the cap is checked as it asks to play.
bool RtspServer::MayPlay(GstRTSPClient *client) {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    const auto it = clients_.find(client);
    if (it != clients_.end() && !it->second.playing.empty()) return true;
    const auto viewers = std::count_if(clients_.begin(), clients_.end(), [](const auto &c) { return !c.second.playing.empty(); });
    return viewers < settings_.maxViewers;
}

void RtspServer::Playing(GstRTSPClient *client, const char *path, bool playing) {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    const auto it = clients_.find(client);
    RtspMount *mount = MountAt(path);
    if (it == clients_.end() || mount == nullptr) return;
    std::set<RtspMount *> &mounts = it->second.playing;
    if (playing && mounts.insert(mount).second) {
        ++mount->clients;
        mount->channel->h264().KeyFrame();  // a picture at once, not at the next key frame
    }
    if (!playing && mounts.erase(mount) > 0) --mount->clients;
    if (mounts.empty()) it->second.idleSince = Clock::now();
}

void RtspServer::Closed(GstRTSPClient *client) {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    const auto it = clients_.find(client);
    if (it == clients_.end()) return;
    for (RtspMount *mount : it->second.playing) --mount->clients;
    if (--perAddress_[it->second.address] <= 0) perAddress_.erase(it->second.address);
    clients_.erase(it);
}

// Ten times a second: connections that play nothing hold a slot for nobody
// and are closed after a while (signed in or not, trickling or not); one
// that sends more than a request head could hold is answered 400 and closed.
void RtspServer::CloseIdle() {
    const Clock::time_point deadline = Clock::now() - std::chrono::seconds(settings_.setupSeconds);
    std::vector<std::pair<GstRTSPClient *, bool>> closing;  // and whether its head is too large
    {
        // Referenced here, closed outside: closing one calls Closed.
        std::lock_guard<std::mutex> lock(clientsMutex_);
        for (auto &[client, state] : clients_) {
            const uint64_t received = Received(client);
            // Counted from its last look while it played: since it connected if it never has.
            const bool flood = received - state.received > kMaxHead;
            if (!state.playing.empty()) state.received = received;
            if (flood || (state.playing.empty() && state.idleSince < deadline)) {
                closing.emplace_back(GST_RTSP_CLIENT(g_object_ref(client)), flood);
            }
        }
    }
    for (const auto &[client, flood] : closing) {
        if (flood) RefuseHead(client);
        Hangup(client);
        g_object_unref(client);
    }
}

bool RtspServer::Listen(std::string *error) {
    server_ = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server_, settings_.host.c_str());
    gst_rtsp_server_set_service(server_, std::to_string(settings_.port).c_str());
    gst_rtsp_server_set_content_length_limit(server_, kMaxRequestBody);
    gst_rtsp_server_set_backlog(server_, kBacklog);
    if (settings_.users != nullptr || settings_.tls != nullptr) {
        auth_ = MakeRtspAuth(settings_.users);
        gst_rtsp_server_set_auth(server_, auth_);
        if (settings_.tls != nullptr && !SetRtspCertificate(auth_, settings_.tls->Pem(), error)) return false;
    }
    if (settings_.tls != nullptr) {
        // A reloaded pair reaches new connections; open ones keep theirs.
        // Reloads come on main's thread, which stops this server after its last.
        settings_.tls->OnReload([this](const std::string &pem) {
            std::string why;
            if (auth_ != nullptr && !SetRtspCertificate(auth_, pem, &why)) {
                std::fprintf(stderr, "twincam-serve: %s\n", why.c_str());
            }
        });
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
    *error = common::CheckH264Pipeline({"appsrc", "appsink", "h264parse", "rtph264pay"}, settings_.encoder);
    if (!error->empty()) {
        *error = "RTSP: " + *error;
        return false;
    }
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    if (!Listen(error)) return false;
    GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(server_);
    for (Channel *channel : channels_.all()) Mount(channel, mounts);
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
    GSource *tick = g_timeout_source_new(100);
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
        if (auth_ != nullptr) g_object_unref(auth_);
        auth_ = nullptr;
        // A client's thread may still be finishing a request, which can end
        // a media and call back into the cameras: wait until every one is done.
        gst_rtsp_thread_pool_cleanup();
    }
    for (auto &mount : mounts_) mount->Unprepared(nullptr);
    if (loop_ != nullptr) g_main_loop_unref(loop_);
    if (context_ != nullptr) g_main_context_unref(context_);
    loop_ = nullptr;
    context_ = nullptr;
}

std::unique_ptr<RtspService> StartRtsp(const Options &opt, Channels &channels, SignIn *users,
                                       TlsCredentials *tls, std::string *error) {
    if (!opt.rtspOn) return nullptr;
    RtspServer::Settings settings;
    settings.host = opt.rtspHost;
    settings.port = opt.rtspPort;
    settings.encoder = common::EncoderFragment(opt.h264, opt.fps);
    settings.maxViewers = opt.limits.maxClients;
    settings.maxConnections = opt.limits.maxConnections;
    settings.maxPerAddress = opt.limits.maxPerAddress;
    settings.setupSeconds = opt.limits.headSeconds;
    settings.users = users;
    settings.tls = tls;
    auto server = std::make_unique<RtspServer>(channels, settings);
    if (!server->Start(error)) return nullptr;
    return server;
}

}  // namespace twincam::serve
