// Sign-in for RTSP: Basic, against the same htpasswd file as the HTTP side.
#ifndef TWINCAM_SERVE_RTSP_AUTH_H
#define TWINCAM_SERVE_RTSP_AUTH_H

#include <gst/rtsp-server/rtsp-server.h>

#include "htpasswd.h"

namespace twincam::serve {

// An authenticator that admits the users of *users (which must outlive it);
// without credentials a client is answered 401 with a Basic challenge.
GstRTSPAuth *MakeRtspAuth(const Htpasswd *users);
// Lets signed-in users play what the factory makes.
void AllowSignedIn(GstRTSPMediaFactory *factory);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_RTSP_AUTH_H
