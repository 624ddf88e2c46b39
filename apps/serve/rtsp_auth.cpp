#include "rtsp_auth.h"

#include <string>

namespace twincam::serve {
namespace {

constexpr const char *kRole = "user";
constexpr const char *kUsersKey = "twincam-users";
constexpr const char *kTokenKey = "twincam-token";

struct TwincamAuth {
    GstRTSPAuth parent;
};
struct TwincamAuthClass {
    GstRTSPAuthClass parent_class;
};

G_DEFINE_TYPE(TwincamAuth, twincam_auth, GST_TYPE_RTSP_AUTH)

// The request's Basic user and password, and the client's address; false without them.
bool Credentials(GstRTSPContext *ctx, std::string *address, std::string *user, std::string *password) {
    gchar *header = nullptr;
    if (ctx->request == nullptr || ctx->conn == nullptr ||
        gst_rtsp_message_get_header(ctx->request, GST_RTSP_HDR_AUTHORIZATION, &header, 0) != GST_RTSP_OK ||
        g_ascii_strncasecmp(header, "Basic ", 6) != 0) {
        return false;
    }
    gsize size = 0;
    guchar *decoded = g_base64_decode(header + 6, &size);
    const std::string text(reinterpret_cast<const char *>(decoded), size);
    g_free(decoded);
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    *address = gst_rtsp_connection_get_ip(ctx->conn);
    *user = text.substr(0, colon);
    *password = text.substr(colon + 1);
    return true;
}

SignIn *SignInOf(GstRTSPAuth *auth) { return static_cast<SignIn *>(g_object_get_data(G_OBJECT(auth), kUsersKey)); }

// A request signed in with a user and password of the file gets the role's
// token; any other gets none, and the check that follows answers 401. The
// password is checked here, on the requests' thread: the media's threads
// send the streams.
gboolean Authenticate(GstRTSPAuth *auth, GstRTSPContext *ctx) {
    std::string address, user, password;
    if (Credentials(ctx, &address, &user, &password) &&
        SignInOf(auth)->Check(address, user, password) == SignIn::Result::kPassed) {
        ctx->token = static_cast<GstRTSPToken *>(g_object_get_data(G_OBJECT(auth), kTokenKey));
    }
    return TRUE;
}

// An address throttled for its failed sign-ins gets 503, without a password check.
gboolean Check(GstRTSPAuth *auth, GstRTSPContext *ctx, const gchar *check) {
    std::string address, user, password;
    if (ctx->token == nullptr && Credentials(ctx, &address, &user, &password) &&
        SignInOf(auth)->Quick(address, user, password) == SignIn::Result::kThrottled) {
        GstRTSPMessage *response = nullptr;
        gst_rtsp_message_new_response(&response, GST_RTSP_STS_SERVICE_UNAVAILABLE, nullptr, ctx->request);
        gst_rtsp_message_add_header(response, GST_RTSP_HDR_RETRY_AFTER, "60");
        gst_rtsp_client_send_message(ctx->client, ctx->session, response);
        gst_rtsp_message_free(response);
        return FALSE;
    }
    return GST_RTSP_AUTH_CLASS(twincam_auth_parent_class)->check(auth, ctx, check);
}

void twincam_auth_class_init(TwincamAuthClass *klass) {
    klass->parent_class.authenticate = Authenticate;
    klass->parent_class.check = Check;
}
void twincam_auth_init(TwincamAuth *) {}

}  // namespace

GstRTSPAuth *MakeRtspAuth(SignIn *users) {
    if (users == nullptr) {
        GstRTSPAuth *auth = gst_rtsp_auth_new();
        GstRTSPToken *token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, kRole, nullptr);
        gst_rtsp_auth_set_default_token(auth, token);
        gst_rtsp_token_unref(token);
        return auth;
    }
    auto *auth = GST_RTSP_AUTH(g_object_new(twincam_auth_get_type(), nullptr));
    gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_BASIC);
    gst_rtsp_auth_set_realm(auth, "twincam");
    g_object_set_data(G_OBJECT(auth), kUsersKey, users);
    // One token for every signed-in request: the context only borrows it.
    GstRTSPToken *token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, kRole, nullptr);
    g_object_set_data_full(G_OBJECT(auth), kTokenKey, token,
                           [](gpointer t) { gst_rtsp_token_unref(static_cast<GstRTSPToken *>(t)); });
    return auth;
}

bool SetRtspCertificate(GstRTSPAuth *auth, const std::string &pem, std::string *error) {
    GError *failure = nullptr;
    GTlsCertificate *certificate = g_tls_certificate_new_from_pem(pem.c_str(), static_cast<gssize>(pem.size()), &failure);
    if (certificate == nullptr) {
        *error = std::string("RTSPS: ") + (failure != nullptr ? failure->message : "the certificate is refused") +
                 " (is glib-networking installed?)";
        if (failure != nullptr) g_error_free(failure);
        return false;
    }
    gst_rtsp_auth_set_tls_certificate(auth, certificate);
    g_object_unref(certificate);
    return true;
}

void AllowSignedIn(GstRTSPMediaFactory *factory) {
    gst_rtsp_media_factory_add_role(factory, kRole, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
                                    GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
}

}  // namespace twincam::serve
