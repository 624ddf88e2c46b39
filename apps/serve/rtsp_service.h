// RTSP beside the HTTP side, where the build has GStreamer's RTSP server:
// the one thing main needs of it.
#ifndef TWINCAM_SERVE_RTSP_SERVICE_H
#define TWINCAM_SERVE_RTSP_SERVICE_H

#include <chrono>
#include <memory>
#include <string>

#include "channels.h"
#include "front_end.h"
#include "serve_options.h"
#include "sign_in.h"
#include "tls_credentials.h"

namespace twincam::serve {

class RtspService : public FrontEnd {
public:
    virtual int port() const = 0;
    // Whether an OPTIONS request on its port is answered within timeout.
    virtual bool Answers(std::chrono::milliseconds timeout) const = 0;
    const char *name() const override { return "RTSP"; }
};

// Serves every camera over RTSP as the options say. Nothing when --rtsp is
// off or this build has no RTSP (said on stderr); nothing, with *error,
// when it cannot start.
std::unique_ptr<RtspService> StartRtsp(const Options &opt, Channels &channels, SignIn *users,
                                       TlsCredentials *tls, std::string *error);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_RTSP_SERVICE_H
