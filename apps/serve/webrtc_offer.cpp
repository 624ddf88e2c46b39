#include "webrtc_offer.h"

#include <gst/sdp/sdp.h>

#include <memory>

namespace twincam::serve {
namespace {

// The caps' field as a string; "" when absent.
std::string Field(const GstStructure *s, const char *name) {
    const char *value = gst_structure_get_string(s, name);
    return value != nullptr ? value : "";
}

bool Receives(const GstSDPMedia *media) {
    for (const char *direction : {"sendonly", "inactive"}) {
        if (gst_sdp_media_get_attribute_val(media, direction) != nullptr) return false;
    }
    return gst_sdp_media_get_port(media) != 0;
}

}  // namespace

std::string ProfileIdc(std::string_view profile) {
    if (profile == "high") return "64";
    if (profile == "main") return "4d";
    if (profile == "baseline" || profile == "constrained-baseline") return "42";
    return "";
}

std::optional<int> OfferedH264(std::string_view sdp, std::string_view profileIdc, std::string *why) {
    GstSDPMessage *parsed = nullptr;
    gst_sdp_message_new(&parsed);
    std::unique_ptr<GstSDPMessage, decltype(&gst_sdp_message_free)> owned(parsed, gst_sdp_message_free);
    const std::string text(sdp);
    if (text.rfind("v=0", 0) != 0 ||
        gst_sdp_message_parse_buffer(reinterpret_cast<const guint8 *>(text.data()), text.size(), parsed) != GST_SDP_OK ||
        gst_sdp_message_medias_len(parsed) == 0) {
        *why = "the offer is not SDP with a media section";
        return std::nullopt;
    }
    std::optional<int> any, matching;
    bool video = false;
    for (guint m = 0; m < gst_sdp_message_medias_len(parsed) && !matching; ++m) {
        const GstSDPMedia *media = gst_sdp_message_get_media(parsed, m);
        if (std::string_view(gst_sdp_media_get_media(media) ? gst_sdp_media_get_media(media) : "") != "video" ||
            !Receives(media)) {
            continue;
        }
        video = true;
        for (guint f = 0; f < gst_sdp_media_formats_len(media) && !matching; ++f) {
            const int pt = std::atoi(gst_sdp_media_get_format(media, f));
            GstCaps *caps = gst_sdp_media_get_caps_from_media(media, pt);
            if (caps == nullptr) continue;
            const GstStructure *s = gst_caps_get_structure(caps, 0);
            if (Field(s, "encoding-name") == "H264" && Field(s, "packetization-mode") == "1") {
                if (!any) any = pt;
                if (!profileIdc.empty() && Field(s, "profile-level-id").substr(0, 2) == profileIdc) matching = pt;
            }
            gst_caps_unref(caps);
        }
    }
    if (!video) *why = "the offer has no video section that receives";
    else if (!any) *why = "the offer has no H.264 in packetization mode 1, the only video served";
    return matching ? matching : any;
}

}  // namespace twincam::serve
