// Built where GStreamer's RTSP server was not found.
#include <cstdio>

#include "log.h"
#include "rtsp_service.h"

namespace twincam::serve {

std::unique_ptr<RtspService> StartRtsp(const Options &opt, Channels &, SignIn *, TlsCredentials *, std::string *) {
    if (opt.rtspOn) {
        Log("no RTSP: built without GStreamer's RTSP server "
            "(install libgstrtspserver-1.0-dev and build again)");
    }
    return nullptr;
}

}  // namespace twincam::serve
