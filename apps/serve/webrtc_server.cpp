#include "webrtc_server.h"

#define GST_USE_UNSTABLE_API  // webrtcbin's library says its API may still change
#include <agent.h>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/rtp/gstrtpbuffer.h>
#include <gst/sdp/sdp.h>
#include <gst/video/video.h>
#include <gst/webrtc/webrtc.h>
#include <netdb.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <utility>

#include "gst_frames.h"
#include "log.h"
#include "router.h"
#include "webrtc_offer.h"

namespace twincam::serve {

using common::Clock;

namespace {
constexpr auto kGone = std::chrono::seconds(10);  // disconnected, or no report heard, this long: the peer has gone
constexpr auto kConnectWithin = std::chrono::seconds(30);   // an answered session that never connects
constexpr auto kAnswerWithin = std::chrono::seconds(3);     // gathering; then the answer has what was found
constexpr auto kKeyFrameEvery = std::chrono::seconds(1);    // a peer's requests for key frames, at most
constexpr guint kQueuedPackets = 400;  // a peer's packets waiting; past it, it skips to the next key frame
}  // namespace

// One session: its own webrtcbin, fed the camera's packets from a key frame
// on once its peer is connected.
struct WebRtcServer::Peer {
    std::string id, location;
    Feed *feed = nullptr;
    int payload = 96;
    std::shared_ptr<void> slot;  // its share of --max-clients
    GstElement *pipeline = nullptr, *webrtc = nullptr, *source = nullptr;
    const Clock::time_point created = Clock::now();

    std::mutex mutex;
    Answered answered;  // until the answer goes
    bool failed = false, connected = false, started = false;
    GstWebRTCPeerConnectionState state = GST_WEBRTC_PEER_CONNECTION_STATE_NEW;
    Clock::time_point troubleSince{}, connectedAt{}, keyAskedAt{};
    std::atomic<Clock::rep> heardAt{0};  // the peer's last RTCP report

    void Answer(Reply reply);
    void Fail(int status, const std::string &why);
    bool Send(GstBuffer *packet, int feedPayload);
    void KeyFrame();  // asks the encoder, at most once a second
    void StateChanged(GstWebRTCPeerConnectionState now);
    bool Expired(Clock::time_point now);
    bool Pending();
    void Close();
};

// One camera's packets: the encoder's access units, packetised once while any session watches.
struct WebRtcServer::Feed {
    Channel *channel = nullptr;
    std::atomic<int> sessions{0};
    std::atomic<long long> bytes{0};
    std::mutex controlMutex;  // joins and leaves, one at a time; the pipeline
    GstElement *pipeline = nullptr;
    int consumer = 0;
    std::mutex mutex;  // what the encoder's and the packets' threads read
    std::vector<std::shared_ptr<Peer>> peers;
    GstElement *source = nullptr;
    int payload = 96;  // the first session's: those of the same browser share its packets uncopied
    bool capsSet = false;
    std::string profile;  // of the encoder's stream, once seen

    void Join(const std::shared_ptr<Peer> &peer);
    void Leave(const Peer *peer);
    void Push(const EncodedFrame &frame);
    void Packet(GstBuffer *packet);
    std::string Profile() {
        std::lock_guard<std::mutex> lock(mutex);
        return profile;
    }
};

namespace {

using PeerRef = std::shared_ptr<WebRtcServer::Peer>;
gpointer Hold(const PeerRef &peer) { return new PeerRef(peer); }
void Release(gpointer held) { delete static_cast<PeerRef *>(held); }
void ReleaseClosure(gpointer held, GClosure *) { Release(held); }
const PeerRef &Held(gpointer held) { return *static_cast<PeerRef *>(held); }

std::string SessionId() {
    std::random_device random;
    char id[33];
    for (int i = 0; i < 4; ++i) std::snprintf(id + 8 * i, 9, "%08x", static_cast<unsigned>(random()));
    return id;
}

Reply Text(int status, std::string text) { return Reply{status, "text/plain; charset=utf-8", std::move(text), {}}; }

// Whether a packet starts a key frame: its parameter sets or its IDR slice,
// alone, aggregated (STAP-A) or the first fragment (FU-A).
bool StartsKeyFrame(GstBuffer *packet) {
    GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
    if (!gst_rtp_buffer_map(packet, GST_MAP_READ, &rtp)) return false;
    const auto *p = static_cast<const guint8 *>(gst_rtp_buffer_get_payload(&rtp));
    const guint size = gst_rtp_buffer_get_payload_len(&rtp);
    bool key = false;
    const auto keyType = [](guint8 nal) { return (nal & 0x1f) == 7 || (nal & 0x1f) == 5; };
    if (size >= 2) {
        const int type = p[0] & 0x1f;
        if (type == 24) {
            for (guint at = 1; at + 2 < size && !key; at += 2 + (p[at] << 8 | p[at + 1])) key = keyType(p[at + 2]);
        } else {
            key = type == 28 ? (p[1] & 0x80) != 0 && keyType(p[1]) : keyType(p[0]);
        }
    }
    gst_rtp_buffer_unmap(&rtp);
    return key;
}

// A packet under another payload type: its own copy.
GstBuffer *Retyped(GstBuffer *packet, int payload) {
    GstBuffer *copy = gst_buffer_copy_deep(packet);
    GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
    if (gst_rtp_buffer_map(copy, GST_MAP_WRITE, &rtp)) {
        gst_rtp_buffer_set_payload_type(&rtp, static_cast<guint8>(payload));
        gst_rtp_buffer_unmap(&rtp);
    }
    return copy;
}

// A promise's failure, or "".
std::string PromiseError(GstPromise *promise) {
    if (gst_promise_wait(promise) != GST_PROMISE_RESULT_REPLIED) return "interrupted";
    const GstStructure *reply = gst_promise_get_reply(promise);
    GError *error = nullptr;
    if (reply == nullptr || !gst_structure_get(reply, "error", G_TYPE_ERROR, &error, nullptr)) return "";
    std::string why = error->message;
    g_error_free(error);
    return why;
}

bool Wildcard(const std::string &host) { return host.empty() || host == "0.0.0.0" || host == "::"; }

}  // namespace

void WebRtcServer::Peer::Answer(Reply reply) {
    Answered once;
    {
        std::lock_guard<std::mutex> lock(mutex);
        once = std::move(answered);
        answered = nullptr;
        if (reply.status >= 400) failed = true;
    }
    if (once) once(std::move(reply));
}

// Answer marks the session failed, for the housekeeper to end.
void WebRtcServer::Peer::Fail(int status, const std::string &why) {
    Log("WebRTC session of camera %d: %s", feed->channel->id(), why.c_str());
    Answer(Text(status, why + "\n"));
}

bool WebRtcServer::Peer::Pending() {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<bool>(answered);
}

// On the feed's thread.
bool WebRtcServer::Peer::Send(GstBuffer *packet, int feedPayload) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!connected || source == nullptr) return false;
    // A peer that fell behind resumes at a key frame: anything else would not decode.
    if (gst_app_src_get_current_level_buffers(GST_APP_SRC(source)) >= kQueuedPackets) started = false;
    if (!started && !(started = StartsKeyFrame(packet))) return false;
    GstBuffer *out = payload == feedPayload ? gst_buffer_copy(packet) : Retyped(packet, payload);
    GST_BUFFER_PTS(out) = GST_BUFFER_DTS(out) = GST_CLOCK_TIME_NONE;  // the session's own times
    gst_app_src_push_buffer(GST_APP_SRC(source), out);
    return true;
}

void WebRtcServer::Peer::KeyFrame() {
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (now - keyAskedAt < kKeyFrameEvery) return;
        keyAskedAt = now;
    }
    feed->channel->h264().KeyFrame();
}

// Connected: a key frame at once, so a picture appears now, not at the next one.
void WebRtcServer::Peer::StateChanged(GstWebRTCPeerConnectionState now) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        state = now;
        if (now == GST_WEBRTC_PEER_CONNECTION_STATE_DISCONNECTED) troubleSince = Clock::now();
        if (now != GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTED) return;
        connected = true;
        started = false;
        connectedAt = Clock::now();  // reports are heard from now on
        keyAskedAt = {};
    }
    KeyFrame();
}

bool WebRtcServer::Peer::Expired(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex);
    switch (state) {
        case GST_WEBRTC_PEER_CONNECTION_STATE_FAILED:
        case GST_WEBRTC_PEER_CONNECTION_STATE_CLOSED: return true;
        case GST_WEBRTC_PEER_CONNECTION_STATE_DISCONNECTED: return now - troubleSince > kGone;
        default: break;
    }
    if (!connected) return failed || now - created > kConnectWithin;
    // A peer that closed or vanished says nothing ICE hears of; its reports stop.
    return failed || now - std::max(Clock::time_point(Clock::duration(heardAt.load())), connectedAt) > kGone;
}

// Off the session's own threads: its pipeline stops, and with it every callback.
void WebRtcServer::Peer::Close() {
    GstElement *src = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        src = std::exchange(source, nullptr);
    }
    if (pipeline != nullptr) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        pipeline = nullptr;
    }
    if (src != nullptr) gst_object_unref(src);
    Answer(Text(503, "the session ended before it was answered\n"));
    slot.reset();
}

void WebRtcServer::Feed::Join(const std::shared_ptr<Peer> &peer) {
    std::lock_guard<std::mutex> control(controlMutex);
    {
        std::lock_guard<std::mutex> lock(mutex);
        peers.push_back(peer);
    }
    if (pipeline != nullptr) return;
    // SPS and PPS come with every key frame from the encoder already.
    GError *error = nullptr;
    const std::string launch = "appsrc name=src is-live=true format=time do-timestamp=true ! rtph264pay pt=" +
                               std::to_string(peer->payload) +
                               " mtu=1200 config-interval=0 aggregate-mode=zero-latency ! appsink name=sink sync=false";
    GstElement *made = gst_parse_launch(launch.c_str(), &error);
    if (error != nullptr) {
        Log("camera %d: WebRTC's packetiser cannot be made: %s", channel->id(), error->message);
        g_error_free(error);
        if (made != nullptr) gst_object_unref(made);
        return;
    }
    GstElement *sink = gst_bin_get_by_name(GST_BIN(made), "sink");
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink *appsink, gpointer self) {
        if (GstSample *sample = gst_app_sink_pull_sample(appsink)) {
            static_cast<Feed *>(self)->Packet(gst_sample_get_buffer(sample));
            gst_sample_unref(sample);
        }
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);
    gst_element_set_state(made, GST_STATE_PLAYING);
    {
        std::lock_guard<std::mutex> lock(mutex);
        source = gst_bin_get_by_name(GST_BIN(made), "src");
        payload = peer->payload;
        capsSet = false;
    }
    pipeline = made;
    // Not under mutex: the encoder holds its consumers while one takes it.
    consumer = channel->h264().Attach([this](const EncodedFrame &frame) { Push(frame); });
}

void WebRtcServer::Feed::Leave(const Peer *peer) {
    std::lock_guard<std::mutex> control(controlMutex);
    GstElement *src = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        peers.erase(std::remove_if(peers.begin(), peers.end(), [peer](const auto &p) { return p.get() == peer; }),
                    peers.end());
        if (!peers.empty()) return;
        src = std::exchange(source, nullptr);
    }
    // As in Join, not under mutex; once it returns, nothing is pushed.
    if (consumer != 0) channel->h264().Detach(std::exchange(consumer, 0));
    if (pipeline != nullptr) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(std::exchange(pipeline, nullptr));
    }
    if (src != nullptr) gst_object_unref(src);
}

// On the encoder's thread: the access unit's memory, not a copy.
void WebRtcServer::Feed::Push(const EncodedFrame &frame) {
    GstElement *src = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (source == nullptr) return;
        src = GST_ELEMENT(gst_object_ref(source));
        if (!std::exchange(capsSet, true)) {
            g_object_set(src, "caps", frame.caps, nullptr);
            const char *name = gst_structure_get_string(gst_caps_get_structure(frame.caps, 0), "profile");
            profile = name != nullptr ? name : "";
        }
    }
    GstBuffer *buffer = gst_buffer_copy(frame.buffer);
    GST_BUFFER_PTS(buffer) = GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
    gst_object_unref(src);
}

// On the packetiser's thread: one packet to every session.
void WebRtcServer::Feed::Packet(GstBuffer *packet) {
    std::vector<std::shared_ptr<Peer>> to;
    int sent = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        to = peers;
        sent = payload;
    }
    const auto size = static_cast<long long>(gst_buffer_get_size(packet));
    for (const auto &peer : to) {
        if (peer->Send(packet, sent)) bytes += size;
    }
}

namespace {

// Host candidates on the listening address alone, unless it is a wildcard;
// the ports within --webrtc-ports; UDP only.
void ConfigureIce(GstElement *webrtc, const WebRtcServer::Settings &settings) {
    GstObject *ice = nullptr;
    g_object_get(webrtc, "ice-agent", &ice, nullptr);
    g_object_set(ice, "ice-tcp", FALSE, nullptr);
    if (settings.minPort > 0) {
        g_object_set(ice, "min-rtp-port", settings.minPort, "max-rtp-port", settings.maxPort, nullptr);
    }
    if (!Wildcard(settings.host)) {
        NiceAgent *agent = nullptr;
        g_object_get(ice, "agent", &agent, nullptr);
        addrinfo hints{}, *found = nullptr;
        hints.ai_socktype = SOCK_DGRAM;
        if (agent != nullptr && getaddrinfo(settings.host.c_str(), nullptr, &hints, &found) == 0) {
            NiceAddress address;
            nice_address_init(&address);
            nice_address_set_from_sockaddr(&address, found->ai_addr);
            nice_agent_add_local_address(agent, &address);
            freeaddrinfo(found);
        }
        if (agent != nullptr) g_object_unref(agent);
    }
    gst_object_unref(ice);
}

// The session's pipeline: an appsrc of RTP under the offered payload type
// into a webrtcbin that only sends. False with *why.
bool BuildPeer(WebRtcServer::Peer &peer, const WebRtcServer::Settings &settings, std::string *why) {
    peer.pipeline = gst_pipeline_new(nullptr);
    peer.source = gst_element_factory_make("appsrc", nullptr);
    peer.webrtc = gst_element_factory_make("webrtcbin", nullptr);
    if (peer.source == nullptr || peer.webrtc == nullptr) {
        *why = "webrtcbin cannot be made";
        return false;
    }
    GstCaps *caps = gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "video", "encoding-name",
                                        G_TYPE_STRING, "H264", "clock-rate", G_TYPE_INT, 90000, "payload", G_TYPE_INT,
                                        peer.payload, nullptr);
    g_object_set(peer.source, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", TRUE, "caps", caps,
                 "max-bytes", guint64{0}, nullptr);
    g_object_set(peer.webrtc, "bundle-policy", GST_WEBRTC_BUNDLE_POLICY_MAX_BUNDLE, nullptr);
    if (!settings.stun.empty()) g_object_set(peer.webrtc, "stun-server", ("stun://" + settings.stun).c_str(), nullptr);
    ConfigureIce(peer.webrtc, settings);
    gst_bin_add_many(GST_BIN(peer.pipeline), GST_ELEMENT(gst_object_ref(peer.source)), peer.webrtc, nullptr);
    if (!gst_element_link(peer.source, peer.webrtc)) {
        gst_caps_unref(caps);
        *why = "webrtcbin takes no H.264";
        return false;
    }
    GstPad *src = gst_element_get_static_pad(peer.source, "src");
    GstPad *sink = gst_pad_get_peer(src);
    GstWebRTCRTPTransceiver *transceiver = nullptr;
    g_object_get(sink, "transceiver", &transceiver, nullptr);
    g_object_set(transceiver, "direction", GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_SENDONLY, "codec-preferences", caps,
                 nullptr);
    gst_object_unref(transceiver);
    gst_object_unref(sink);
    gst_object_unref(src);
    gst_caps_unref(caps);
    return true;
}

// The answer goes once it has every candidate, or (force) with those found
// so far; forced without an answer made, the offer fails.
void AnswerWhenGathered(const PeerRef &peer, bool force) {
    GstWebRTCICEGatheringState gathering = GST_WEBRTC_ICE_GATHERING_STATE_NEW;
    GstWebRTCSessionDescription *local = nullptr;
    g_object_get(peer->webrtc, "ice-gathering-state", &gathering, "local-description", &local, nullptr);
    if (local == nullptr) {
        if (force) peer->Fail(503, "no answer could be made within 3 s");
        return;
    }
    if (force || gathering == GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE) {
        gchar *sdp = gst_sdp_message_as_text(local->sdp);
        Reply reply{201, "application/sdp", sdp, {{"Location", peer->location}, {"Cache-Control", "no-store"}}};
        g_free(sdp);
        peer->Answer(std::move(reply));
    }
    gst_webrtc_session_description_free(local);
}

void AnswerMade(GstPromise *promise, gpointer held) {
    const PeerRef &peer = Held(held);
    if (const std::string why = PromiseError(promise); !why.empty()) {
        peer->Fail(400, "no answer to the offer: " + why);
        return;
    }
    GstWebRTCSessionDescription *answer = nullptr;
    gst_structure_get(gst_promise_get_reply(promise), "answer", GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &answer, nullptr);
    if (answer == nullptr) {
        peer->Fail(400, "no answer to the offer");
        return;
    }
    GstPromise *set = gst_promise_new_with_change_func(
        [](GstPromise *p, gpointer h) {
            if (const std::string why = PromiseError(p); !why.empty()) Held(h)->Fail(500, "the answer failed: " + why);
            else AnswerWhenGathered(Held(h), false);
        },
        Hold(peer), Release);
    g_signal_emit_by_name(peer->webrtc, "set-local-description", answer, set);
    gst_promise_unref(set);
    gst_webrtc_session_description_free(answer);
}

// Every RTCP packet from the peer: it is still there.
void HearReports(const PeerRef &peer) {
    GstElement *rtpbin = gst_bin_get_by_name(GST_BIN(peer->webrtc), "rtpbin");
    GObject *session = nullptr;
    if (rtpbin != nullptr) g_signal_emit_by_name(rtpbin, "get-internal-session", 0u, &session);
    if (session != nullptr) {
        g_signal_connect_data(session, "on-receiving-rtcp", G_CALLBACK(+[](GObject *, GstBuffer *, gpointer held) {
                                  Held(held)->heardAt = Clock::now().time_since_epoch().count();
                              }),
                              Hold(peer), ReleaseClosure, GConnectFlags{});
        g_object_unref(session);
    } else {
        Log("WebRTC: a session's reports cannot be heard; it ends only with DELETE");
    }
    if (rtpbin != nullptr) gst_object_unref(rtpbin);
}

void RemoteSet(GstPromise *promise, gpointer held) {
    const PeerRef &peer = Held(held);
    if (const std::string why = PromiseError(promise); !why.empty()) {
        peer->Fail(400, "the offer was refused: " + why);
        return;
    }
    HearReports(peer);
    GstPromise *made = gst_promise_new_with_change_func(AnswerMade, Hold(peer), Release);
    g_signal_emit_by_name(peer->webrtc, "create-answer", nullptr, made);
    gst_promise_unref(made);
}

// Starts the session and the offer's way to an answer, on webrtcbin's thread.
void Negotiate(const PeerRef &peer, const std::string &sdp) {
    g_signal_connect_data(peer->webrtc, "notify::ice-gathering-state",
                          G_CALLBACK(+[](GstElement *, GParamSpec *, gpointer held) { AnswerWhenGathered(Held(held), false); }),
                          Hold(peer), ReleaseClosure, GConnectFlags{});
    g_signal_connect_data(peer->webrtc, "notify::connection-state",
                          G_CALLBACK(+[](GstElement *webrtc, GParamSpec *, gpointer held) {
                              GstWebRTCPeerConnectionState state = GST_WEBRTC_PEER_CONNECTION_STATE_NEW;
                              g_object_get(webrtc, "connection-state", &state, nullptr);
                              Held(held)->StateChanged(state);
                          }),
                          Hold(peer), ReleaseClosure, GConnectFlags{});
    // A peer's requests for a key frame (its picture broke) reach the camera's encoder.
    GstPad *pad = gst_element_get_static_pad(peer->source, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM,
                      [](GstPad *, GstPadProbeInfo *info, gpointer held) {
                          if (gst_video_event_is_force_key_unit(GST_PAD_PROBE_INFO_EVENT(info))) Held(held)->KeyFrame();
                          return GST_PAD_PROBE_OK;
                      },
                      Hold(peer), Release);
    gst_object_unref(pad);
    gst_element_set_state(peer->pipeline, GST_STATE_PLAYING);
    GstSDPMessage *message = nullptr;
    gst_sdp_message_new_from_text(sdp.c_str(), &message);
    GstWebRTCSessionDescription *offer = gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_OFFER, message);
    GstPromise *set = gst_promise_new_with_change_func(RemoteSet, Hold(peer), Release);
    g_signal_emit_by_name(peer->webrtc, "set-remote-description", offer, set);
    gst_promise_unref(set);
    gst_webrtc_session_description_free(offer);
}

}  // namespace

WebRtcServer::WebRtcServer(Channels &channels, Settings settings)
    : channels_(channels), settings_(std::move(settings)) {}

bool WebRtcServer::Start(std::string *error) {
    common::InitGStreamer();
    for (const char *element : {"webrtcbin", "nicesrc", "nicesink", "dtlssrtpenc", "rtph264pay", "appsrc", "appsink"}) {
        if (GstElementFactory *factory = gst_element_factory_find(element)) {
            gst_object_unref(factory);
            continue;
        }
        *error = std::string("GStreamer's ") + element + " is missing (install gstreamer1.0-plugins-bad, "
                 "gstreamer1.0-nice and gstreamer1.0-plugins-good)";
        return false;
    }
    for (Channel *channel : channels_.all()) {
        auto feed = std::make_unique<Feed>();
        feed->channel = channel;
        channel->AddFigures([f = feed.get()](ChannelFigures &figures) {
            figures.webrtc = WebRtcFigures{f->sessions.load(), f->bytes.load()};
        });
        feeds_.push_back(std::move(feed));
    }
    started_ = true;
    housekeeper_.Start(std::chrono::milliseconds(500), [this] { Housekeep(); });
    return true;
}

void WebRtcServer::Offer(Channel *channel, std::string sdp, std::shared_ptr<void> slot, Answered answered) {
    Feed *feed = nullptr;
    for (auto &f : feeds_) feed = f->channel == channel ? f.get() : feed;
    std::string why;
    const std::optional<int> payload = OfferedH264(sdp, ProfileIdc(feed->Profile()), &why);
    if (!payload) return answered(Text(400, why + "\n"));
    auto peer = std::make_shared<Peer>();
    peer->id = SessionId();
    peer->location = "/whep/" + std::to_string(channel->id()) + "/" + peer->id;
    peer->feed = feed;
    peer->payload = *payload;
    peer->slot = std::move(slot);
    peer->answered = std::move(answered);
    const bool built = BuildPeer(*peer, settings_, &why);
    bool admitted = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        admitted = built && !stopping_;
        if (admitted) {
            peers_[peer->id] = peer;
            ++feed->sessions;
        }
    }
    if (!admitted) {
        if (!built) peer->Fail(500, why);
        peer->Close();  // 503 unless answered; its pipeline never ran
        return;
    }
    feed->Join(peer);
    Negotiate(peer, sdp);
}

bool WebRtcServer::End(int camera, std::string_view session) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = peers_.find(std::string(session));
        if (it == peers_.end() || it->second->feed->channel->id() != camera) return false;
    }
    Drop(std::string(session));
    return true;
}

void WebRtcServer::Drop(const std::string &id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = peers_.find(id);
    if (it == peers_.end()) return;
    --it->second->feed->sessions;
    it->second->slot.reset();  // the client's slot is free now, not when its pipeline has stopped
    ended_.push_back(it->second);
    peers_.erase(it);
}

// Ended sessions stop here, off the threads of HTTP and of webrtcbin.
void WebRtcServer::Dispose() {
    std::vector<std::shared_ptr<Peer>> ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended.swap(ended_);
    }
    for (const auto &peer : ended) {
        peer->feed->Leave(peer.get());
        peer->Close();
    }
}

// Twice a second: sessions whose peer went away end; answers still
// gathering after a while go with the candidates found.
void WebRtcServer::Housekeep() {
    const Clock::time_point now = Clock::now();
    std::vector<std::shared_ptr<Peer>> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto &[id, peer] : peers_) all.push_back(peer);
    }
    for (const auto &peer : all) {
        if (peer->Expired(now)) Drop(peer->id);
        else if (now - peer->created > kAnswerWithin && peer->Pending()) AnswerWhenGathered(peer, true);
    }
    Dispose();
}

void WebRtcServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_ || stopping_) return;
        stopping_ = true;
        for (auto &[id, peer] : peers_) {
            --peer->feed->sessions;
            ended_.push_back(peer);
        }
        peers_.clear();
    }
    housekeeper_.Stop();
    Dispose();
}

std::unique_ptr<WebRtcService> StartWebRtc(const Options &opt, Channels &channels, std::string *) {
    if (!opt.webrtcOn) return nullptr;
    auto server = std::make_unique<WebRtcServer>(
        channels, WebRtcServer::Settings{opt.host, opt.stun, opt.webrtcMinPort, opt.webrtcMaxPort});
    if (std::string why; !server->Start(&why)) {
        Log("no WebRTC, the page plays MJPEG: %s; or start with --webrtc off", why.c_str());
        return nullptr;
    }
    return server;
}

}  // namespace twincam::serve
