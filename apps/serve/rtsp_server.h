// RTSP from twincam-serve: rtsp://HOST:PORT/cam<ID> for every open camera,
// H.264 from one encoder per camera shared by all its clients, which runs
// only while one of them watches. Frames come from the one reader through a
// tap on the camera's feed, their dvpp buffers wrapped, not copied.
// GStreamer's RTSP server runs on a main loop of its own, which accepts
// connections; one more thread serves every connection's requests.
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

#include "htpasswd.h"
#include "router.h"
#include "rtsp_service.h"

namespace twincam::serve {

class RtspServer : public RtspService {
public:
    struct Settings {
        std::string host;
        int port = 8554;  // 0 picks a free one
        std::string encoder;  // launch fragment, NV12 to H.264
        int fps = 30, width = 0, height = 0;
        int maxClients = 16;    // connections at once; more are closed
        int setupSeconds = 10;  // a connection not playing for this long is closed
        const Htpasswd *users = nullptr;
    };

    RtspServer(Served &served, Settings settings);
    ~RtspServer() override;
    RtspServer(const RtspServer &) = delete;
    RtspServer &operator=(const RtspServer &) = delete;

    // Listens and serves every camera that delivers; false with *error.
    bool Start(std::string *error);
    int port() const override { return port_; }
    // Closes every client, stops every encoder, and the loop.
    void Stop() override;

    struct Camera;  // one mount: its feed, and its encoder while it runs

private:
    struct Client {
        std::set<int> playing;  // cameras
        common::Clock::time_point idleSince;
    };
    bool Listen(std::string *error);
    void Mount(CameraFeed *feed, GstRTSPMountPoints *mounts);
    void Connected(GstRTSPClient *client);
    bool Admit(GstRTSPClient *client);  // false past the cap
    void Playing(GstRTSPClient *client, const char *path, bool playing);
    void Closed(GstRTSPClient *client);
    void CloseIdle();
    Camera *CameraAt(const char *path);  // by the request's path
    Camera *CameraWithId(int id);

    Served &served_;
    Settings settings_;
    int port_ = 0;
    GMainContext *context_ = nullptr;
    GMainLoop *loop_ = nullptr;
    GstRTSPServer *server_ = nullptr;
    std::vector<std::unique_ptr<Camera>> cameras_;
    // Connections come on the loop's thread, their requests on the clients' thread.
    std::mutex clientsMutex_;
    std::map<GstRTSPClient *, Client> clients_;
    std::thread thread_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_RTSP_SERVER_H
