#include "rtsp_auth.h"

#include <string_view>

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

// A request signed in with a user and password of the file gets the role's
// token; any other gets none, and the check that follows answers 401.
gboolean Authenticate(GstRTSPAuth *auth, GstRTSPContext *ctx) {
    gchar *header = nullptr;
    if (ctx->request == nullptr ||
        gst_rtsp_message_get_header(ctx->request, GST_RTSP_HDR_AUTHORIZATION, &header, 0) != GST_RTSP_OK ||
        g_ascii_strncasecmp(header, "Basic ", 6) != 0) {
        return TRUE;
    }
    gsize size = 0;
    guchar *decoded = g_base64_decode(header + 6, &size);
    const std::string_view text(reinterpret_cast<const char *>(decoded), size);
    const size_t colon = text.find(':');
    const auto *users = static_cast<const Htpasswd *>(g_object_get_data(G_OBJECT(auth), kUsersKey));
    if (colon != std::string_view::npos && users->Check(text.substr(0, colon), text.substr(colon + 1))) {
        ctx->token = static_cast<GstRTSPToken *>(g_object_get_data(G_OBJECT(auth), kTokenKey));
    }
    g_free(decoded);
    return TRUE;
}

void twincam_auth_class_init(TwincamAuthClass *klass) { klass->parent_class.authenticate = Authenticate; }
void twincam_auth_init(TwincamAuth *) {}

}  // namespace

GstRTSPAuth *MakeRtspAuth(const Htpasswd *users) {
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
    g_object_set_data(G_OBJECT(auth), kUsersKey, const_cast<Htpasswd *>(users));
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
