// RTSP from twincam-serve: rtsp://HOST:PORT/cam<ID> for every served
// camera, from the camera's one H.264 encoder (shared with the recorder),
// attached while at least one client watches; each mount packetises it once
// for all its clients. GStreamer's RTSP server runs on a main loop of its
// own, which accepts connections; one more thread serves every connection's
// requests.
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
#include "htpasswd.h"
#include "rtsp_service.h"
#include "tls_credentials.h"

namespace twincam::serve {

class RtspServer : public RtspService {
public:
    struct Settings {
        std::string host;
        int port = 8554;  // 0 picks a free one
        std::string encoder;  // the channels' encoder, checked at start
        int maxClients = 16;    // connections at once; more are closed
        int setupSeconds = 10;  // a connection not playing for this long is closed
        const Htpasswd *users = nullptr;
        TlsCredentials *tls = nullptr;  // RTSPS when given
    };

    RtspServer(Channels &channels, Settings settings);
    ~RtspServer() override;
    RtspServer(const RtspServer &) = delete;
    RtspServer &operator=(const RtspServer &) = delete;

    // Listens and serves every camera; false with *error.
    bool Start(std::string *error);
    int port() const override { return port_; }
    // Closes every client, stops every encoder, and the loop.
    void Stop() override;

    struct RtspMount;  // one camera's mount: its channel, and its media while one runs

private:
    struct Client {
        std::set<RtspMount *> playing;
        common::Clock::time_point idleSince;
    };
    bool Listen(std::string *error);
    void Mount(Channel *channel, GstRTSPMountPoints *mounts);
    void Connected(GstRTSPClient *client);
    bool Admit(GstRTSPClient *client);  // false past the cap
    void Playing(GstRTSPClient *client, const char *path, bool playing);
    void Closed(GstRTSPClient *client);
    void CloseIdle();
    RtspMount *MountAt(const char *path);  // by the request's path
    RtspMount *MountOf(int id);

    Channels &channels_;
    Settings settings_;
    int port_ = 0;
    GMainContext *context_ = nullptr;
    GMainLoop *loop_ = nullptr;
    GstRTSPServer *server_ = nullptr;
    GstRTSPAuth *auth_ = nullptr;  // with sign-in or TLS
    std::vector<std::unique_ptr<RtspMount>> mounts_;
    // Connections come on the loop's thread, their requests on the clients'
    // thread. Lock order: clientsMutex_ before a mount's mutex.
    std::mutex clientsMutex_;
    std::map<GstRTSPClient *, Client> clients_;
    std::thread thread_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_RTSP_SERVER_H
