#include "rtsp_server.h"

#include <fcntl.h>
#include <gst/app/gstappsrc.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <utility>

#include "gst_frames.h"
#include "health_probe.h"
#include "log.h"
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
// What a connection's socket holds unread (the kernel doubles it).
constexpr int kReceiveBuffer = 4 * 1024;
// What a client may have sent by the time it is accepted: a request head or two.
constexpr int kMaxEarly = 4 * 1024;
// The TCP state of a connection its peer has closed (the kernel's, which linux/tcp.h leaves out).
constexpr uint8_t kTcpCloseWait = 8;
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

int SocketOf(GstRTSPClient *client) {
    GSocket *socket = gst_rtsp_connection_get_read_socket(gst_rtsp_client_get_connection(client));
    return socket != nullptr ? g_socket_get_fd(socket) : -1;
}

// Bytes the kernel has taken in on a socket (TLS included).
uint64_t Received(int fd) {
    tcp_info info{};
    socklen_t size = sizeof info;
    return getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 ? info.tcpi_bytes_received : 0;
}

// Whether a connection just accepted is worth serving: one whose client has
// already hung up, or has sent more than any request before its first
// answer, is not (a flood's backlog would otherwise be read byte by byte).
bool Wanted(int fd) {
    tcp_info info{};
    socklen_t size = sizeof info;
    int pending = 0;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 && info.tcpi_state == kTcpCloseWait) return false;
    return ioctl(fd, FIONREAD, &pending) != 0 || pending <= kMaxEarly;
}

// Ends a connection accepted but not yet attached: its socket is swapped for
// one that reads as closed, so its watch ends it at once without reading
// what the client sent (the real socket, closed with data unread, resets).
void Discard(int fd) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        shutdown(fd, SHUT_RDWR);
        return;
    }
    close(pair[1]);
    dup3(pair[0], fd, O_CLOEXEC);
    close(pair[0]);
}

// A request head that will not end, on a plain connection: 400 (its own
// thread is reading the head, so nothing else is being written).
void RefuseHead(int fd) {
    static constexpr char kRefusal[] = "RTSP/1.0 400 Request Head Too Large\r\n\r\n";
    (void)!send(fd, kRefusal, sizeof kRefusal - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

// Whether a socket's peer is the watchdog's probe.
bool IsProbeSocket(int fd) {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    return getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) == 0 &&
           IsProbe(reinterpret_cast<sockaddr *>(&peer));
}

}  // namespace

// Past the caps a connection is closed at once; every connection is
// watched for playing nothing too long, and for sending too much.
void RtspServer::Connected(GstRTSPClient *client) {
    const int fd = SocketOf(client);
    if (fd < 0) return;
    if (!Wanted(fd) || !Admit(client, fd)) {
        Discard(fd);
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

// The watchdog's probe is let past the limits; each connection gets a
// duplicate of its socket that only this server uses, so the loop's thread
// can watch and cut it while the connection's own thread serves it.
bool RtspServer::Admit(GstRTSPClient *client, int fd) {
    const std::string address = gst_rtsp_connection_get_ip(gst_rtsp_client_get_connection(client));
    const bool probe = IsProbeSocket(fd);
    std::lock_guard<std::mutex> lock(clientsMutex_);
    const auto held = perAddress_.find(address);
    if (!probe && (static_cast<int>(clients_.size()) >= settings_.maxConnections ||
                   (held != perAddress_.end() && held->second >= settings_.maxPerAddress))) {
        return false;
    }
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return false;
    if (!probe) ++perAddress_[address];
    Client &added = clients_[client];
    added.address = probe ? "" : address;
    added.fd = own;
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
    if (!it->second.address.empty() && --perAddress_[it->second.address] <= 0) perAddress_.erase(it->second.address);
    close(it->second.fd);
    clients_.erase(it);
}

// Ten times a second: connections that play nothing hold a slot for nobody
// and are closed after a while (signed in or not, trickling or not); one
// that sends more than a request head could hold is answered 400 and closed.
// Each is cut through this server's own duplicate of its socket: the
// connection's thread, reading the end, closes it itself, and no GStreamer
// object is touched from here while that thread may be using it.
void RtspServer::CloseIdle() {
    const Clock::time_point deadline = Clock::now() - std::chrono::seconds(settings_.setupSeconds);
    std::lock_guard<std::mutex> lock(clientsMutex_);
    for (auto &[client, state] : clients_) {
        if (state.cut) continue;
        const uint64_t received = Received(state.fd);
        // Counted from its last look while it played: since it connected if it never has.
        const bool flood = received - state.received > kMaxHead;
        if (!state.playing.empty()) state.received = received;
        if (!flood && !(state.playing.empty() && state.idleSince < deadline)) continue;
        if (flood && settings_.tls == nullptr) RefuseHead(state.fd);
        shutdown(state.fd, SHUT_RDWR);
        state.cut = true;
    }
}

bool RtspServer::Listen(std::string *error) {
    server_ = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server_, settings_.host.c_str());
    gst_rtsp_server_set_service(server_, std::to_string(settings_.port).c_str());
    gst_rtsp_server_set_content_length_limit(server_, kMaxRequestBody);
    gst_rtsp_server_set_backlog(server_, kBacklog);
    // Every connection is served on one thread of the pool, taken here so
    // that idle and flooding connections are closed on it too: no connection
    // is ever touched while another thread reads or closes it.
    GstRTSPThreadPool *threads = gst_rtsp_server_get_thread_pool(server_);
    gst_rtsp_thread_pool_set_max_threads(threads, 1);
    GstRTSPContext asking{};
    asking.server = server_;
    clientThread_ = gst_rtsp_thread_pool_get_thread(threads, GST_RTSP_THREAD_TYPE_CLIENT, &asking);
    g_object_unref(threads);
    if (clientThread_ == nullptr) {
        *error = "RTSP: no thread for its connections";
        return false;
    }
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
                Log("%s", why.c_str());
            }
        });
    }
    g_signal_connect(server_, "client-connected",
                     G_CALLBACK(+[](GstRTSPServer *, GstRTSPClient *c, RtspServer *self) { self->Connected(c); }), this);
    GError *failure = nullptr;
    GSocket *socket = gst_rtsp_server_create_socket(server_, nullptr, &failure);
    if (socket == nullptr) {
        *error = "--rtsp " + settings_.host + ":" + std::to_string(settings_.port) + ": " +
                 (failure ? failure->message : "cannot listen");
        if (failure) g_error_free(failure);
        return false;
    }
    // Connections inherit a small receive buffer: RTSP clients send little,
    // and a flood queued for accepting pins little of the kernel's memory.
    setsockopt(g_socket_get_fd(socket), SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    GSource *source = g_socket_create_source(socket, static_cast<GIOCondition>(G_IO_IN | G_IO_ERR | G_IO_HUP), nullptr);
    g_source_set_callback(source, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(gst_rtsp_server_io_func)),
                          g_object_ref(server_), g_object_unref);
    g_source_attach(source, context_);
    g_source_unref(source);
    GSocketAddress *local = g_socket_get_local_address(socket, nullptr);
    port_ = local != nullptr ? g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local)) : settings_.port;
    if (local != nullptr) g_object_unref(local);
    g_object_unref(socket);
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
    closer_ = g_timeout_source_new(100);
    g_source_set_callback(
        closer_,
        +[](gpointer self) -> gboolean { return static_cast<RtspServer *>(self)->CloseIdle(), G_SOURCE_CONTINUE; },
        this, nullptr);
    g_source_attach(closer_, context_);
    thread_ = std::thread([this] {
        g_main_context_push_thread_default(context_);
        g_main_loop_run(loop_);
        g_main_context_pop_thread_default(context_);
    });
    return true;
}

bool RtspServer::Answers(std::chrono::milliseconds timeout) const {
    return serve::Answers(
        Probe{settings_.host, port_, "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n\r\n", "RTSP/1.0", settings_.tls != nullptr},
        timeout);
}

// On the connections' thread, and waits for it: every client goes (and with
// the last of its clients each media), unheard from now on.
void RtspServer::CloseAll() {
    if (clientThread_ == nullptr) return;
    {
        // A read in progress ends at once rather than when its client stops sending.
        std::lock_guard<std::mutex> lock(clientsMutex_);
        for (auto &entry : clients_) shutdown(entry.second.fd, SHUT_RDWR);
    }
    std::promise<void> done;
    auto close = [this, &done] {
        gst_rtsp_server_client_filter(
            server_,
            +[](GstRTSPServer *, GstRTSPClient *client, gpointer self) {
                g_signal_handlers_disconnect_by_data(client, self);
                return GST_RTSP_FILTER_REMOVE;
            },
            this);
        done.set_value();
    };
    g_main_context_invoke(
        clientThread_->context,
        +[](gpointer f) -> gboolean { return (*static_cast<decltype(close) *>(f))(), G_SOURCE_REMOVE; }, &close);
    done.get_future().wait();
}

void RtspServer::Stop() {
    if (thread_.joinable()) {
        g_main_context_invoke(
            context_,
            +[](gpointer loop) -> gboolean {
                return g_main_loop_quit(static_cast<GMainLoop *>(loop)), G_SOURCE_REMOVE;
            },
            loop_);
        thread_.join();
        CloseAll();
    }
    if (closer_ != nullptr) {
        g_source_destroy(closer_);
        g_source_unref(closer_);
    }
    closer_ = nullptr;
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
        if (clientThread_ != nullptr) gst_rtsp_thread_stop(clientThread_);
        clientThread_ = nullptr;
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
