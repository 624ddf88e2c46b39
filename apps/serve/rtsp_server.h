// RTSP from twincam-serve: rtsp://HOST:PORT/cam<ID> for every served
// camera, from the camera's one H.264 encoder (shared with the recorder),
// attached while at least one client watches; each mount packetises it once
// for all its clients. GStreamer's RTSP server runs on a main loop of its
// own, which accepts connections (from a long queue), refuses those past the
// limits and cuts idle and flooding ones; one more thread serves every
// connection's requests.
#ifndef TWINCAM_SERVE_RTSP_SERVER_H
#define TWINCAM_SERVE_RTSP_SERVER_H

#include <gst/rtsp-server/rtsp-server.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "channels.h"
#include "sign_in.h"
#include "rtsp_service.h"
#include "tls_credentials.h"

namespace twincam::serve {

class RtspServer : public RtspService {
public:
    struct Settings {
        std::string host;
        int port = 8554;  // 0 picks a free one
        std::string encoder;  // the channels' encoder, checked at start
        int maxViewers = 16;        // connections playing at once; more get 503
        int maxConnections = 2048;  // open at once; more are closed on arrival
        int maxPerAddress = 32;     // open at once from one client address
        int setupSeconds = 10;      // a connection not playing for this long is closed
        SignIn *users = nullptr;  // sign-in, or nullptr for everyone
        TlsCredentials *tls = nullptr;  // RTSPS when given
    };

    RtspServer(Channels &channels, Settings settings);
    ~RtspServer() override;
    RtspServer(const RtspServer &) = delete;
    RtspServer &operator=(const RtspServer &) = delete;

    // Listens and serves every camera; false with *error.
    bool Start(std::string *error);
    int port() const override { return port_; }
    bool Answers(std::chrono::milliseconds timeout) const override;
    // Closes every client, stops every encoder, and the loop.
    void Stop() override;

    struct RtspMount;  // one camera's mount: its channel, and its media while one runs

private:
    struct Client {
        std::string address;  // empty for the watchdog's probe
        int fd = -1;          // this server's own duplicate of its socket
        bool cut = false;     // shut down, its thread closing it
        std::set<RtspMount *> playing;
        common::Clock::time_point idleSince;
        uint64_t received = 0;  // bytes from it, as the kernel counts them, at the last look while it played
    };
    bool Listen(std::string *error);
    void Mount(Channel *channel, GstRTSPMountPoints *mounts);
    void Connected(GstRTSPClient *client);
    bool Admit(GstRTSPClient *client, int fd);  // false past the caps
    bool MayPlay(GstRTSPClient *client);  // false past --max-clients viewers
    void Playing(GstRTSPClient *client, const char *path, bool playing);
    void Closed(GstRTSPClient *client);
    void CloseIdle();
    void CloseAll();                       // on the connections' thread
    RtspMount *MountAt(const char *path);  // by the request's path
    RtspMount *MountOf(int id);

    Channels &channels_;
    Settings settings_;
    int port_ = 0;
    GMainContext *context_ = nullptr;
    GMainLoop *loop_ = nullptr;
    GstRTSPServer *server_ = nullptr;
    GstRTSPAuth *auth_ = nullptr;  // with sign-in or TLS
    GstRTSPThread *clientThread_ = nullptr;  // serves every connection
    GSource *closer_ = nullptr;              // CloseIdle's tick
    std::vector<std::unique_ptr<RtspMount>> mounts_;
    // Connections come on the loop's thread, their requests on the clients'
    // thread. Lock order: clientsMutex_ before a mount's mutex.
    std::mutex clientsMutex_;
    std::map<GstRTSPClient *, Client> clients_;
    std::map<std::string, int> perAddress_;
    std::thread thread_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_RTSP_SERVER_H
