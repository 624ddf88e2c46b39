// Sign-in for RTSP: Basic, against the same htpasswd file as the HTTP side;
// and the server's TLS certificate, which GStreamer's RTSP server keeps in
// its authenticator.
#ifndef TWINCAM_SERVE_RTSP_AUTH_H
#define TWINCAM_SERVE_RTSP_AUTH_H

#include <gst/rtsp-server/rtsp-server.h>

#include <string>

#include "sign_in.h"

namespace twincam::serve {

// An authenticator that admits the users of *users (which must outlive it);
// without credentials a client is answered 401 with a Basic challenge, and
// from an address throttled for its failures 503.
// users nullptr: everyone is admitted (an authenticator for TLS alone).
GstRTSPAuth *MakeRtspAuth(SignIn *users);
// New connections are served over TLS with the chain and key in pem; false
// with *error when GLib cannot take them.
bool SetRtspCertificate(GstRTSPAuth *auth, const std::string &pem, std::string *error);
// Lets signed-in users (everyone, without users) play what the factory makes.
void AllowSignedIn(GstRTSPMediaFactory *factory);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_RTSP_AUTH_H
