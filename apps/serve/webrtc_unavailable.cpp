// Built where GStreamer's WebRTC was not found.
#include <cstdio>

#include "log.h"
#include "webrtc_service.h"

namespace twincam::serve {

std::unique_ptr<WebRtcService> StartWebRtc(const Options &opt, Channels &, std::string *) {
    if (opt.webrtcOn) {
        Log("no WebRTC, the page plays MJPEG: built without GStreamer's WebRTC "
            "(install libgstreamer-plugins-bad1.0-dev and libnice-dev and build again)");
    }
    return nullptr;
}

}  // namespace twincam::serve
