// WebRTC from twincam-serve, negotiated with WHEP: POST /whep/<ID> with an
// SDP offer starts a session of the camera, DELETE on its Location ends it.
// Each camera's feed takes the camera's one H.264 encoder while a session
// watches and packetises it once into RTP; every session's webrtcbin sends
// those packets (under the payload type its peer offered), starting at a
// key frame. Answers carry every candidate: nothing is trickled.
#ifndef TWINCAM_SERVE_WEBRTC_SERVER_H
#define TWINCAM_SERVE_WEBRTC_SERVER_H

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ticker.h"
#include "webrtc_service.h"

namespace twincam::serve {

class WebRtcServer : public WebRtcService {
public:
    struct Settings {
        std::string host;  // candidates on this address; a wildcard: on every interface
        std::string stun;  // HOST:PORT of a STUN server, or "" for host candidates alone
        int minPort = 0, maxPort = 0;  // the UDP ports sessions use; 0: any
    };

    WebRtcServer(Channels &channels, Settings settings);
    ~WebRtcServer() override { Stop(); }
    WebRtcServer(const WebRtcServer &) = delete;
    WebRtcServer &operator=(const WebRtcServer &) = delete;

    // Checks the elements; false with *error.
    bool Start(std::string *error);
    void Offer(Channel *channel, std::string sdp, std::shared_ptr<void> slot, Answered answered) override;
    bool End(int camera, std::string_view session) override;
    // Answers pending offers with 503 and ends every session.
    void Stop() override;

    struct Feed;  // one camera's packets
    struct Peer;  // one session

private:
    void Housekeep();
    void Drop(const std::string &id);  // ends a session; its pipeline stops on the housekeeper's thread
    void Dispose();

    Channels &channels_;
    const Settings settings_;
    std::vector<std::unique_ptr<Feed>> feeds_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Peer>> peers_;  // by session id
    std::vector<std::shared_ptr<Peer>> ended_;            // to stop, off the callers' threads
    bool started_ = false, stopping_ = false;
    common::Ticker housekeeper_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_WEBRTC_SERVER_H
