// WebRTC beside the HTTP side (WHEP), where the build has GStreamer's
// webrtcbin: the one thing the router and main need of it.
#ifndef TWINCAM_SERVE_WEBRTC_SERVICE_H
#define TWINCAM_SERVE_WEBRTC_SERVICE_H

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "channels.h"
#include "front_end.h"
#include "serve_options.h"

namespace twincam::serve {

struct Reply;

class WebRtcService : public FrontEnd {
public:
    const char *name() const override { return "WebRTC"; }
    // The reply to an offer, called once, on any thread (or before Offer returns).
    using Answered = std::function<void(Reply)>;
    // A session of channel's camera for the SDP offer: 201 with the answer
    // and the session's Location, or the reason it cannot be. slot is the
    // client's share of --max-clients, held until the session ends.
    virtual void Offer(Channel *channel, std::string sdp, std::shared_ptr<void> slot, Answered answered) = 0;
    // Ends a session by its path's last part: true when there was one.
    virtual bool End(int camera, std::string_view session) = 0;
};

// WebRTC for every camera as the options say. Nothing when --webrtc is off
// or this build has no WebRTC (said on stderr); nothing, with *error, when
// it cannot start.
std::unique_ptr<WebRtcService> StartWebRtc(const Options &opt, Channels &channels, std::string *error);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_WEBRTC_SERVICE_H
