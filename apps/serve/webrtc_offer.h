// What the server takes of a WHEP offer: a video section that receives
// H.264 in packetization mode 1 (fragmented and aggregated units, as our
// payloader makes them).
#ifndef TWINCAM_SERVE_WEBRTC_OFFER_H
#define TWINCAM_SERVE_WEBRTC_OFFER_H

#include <optional>
#include <string>
#include <string_view>

namespace twincam::serve {

// The payload type to send the camera's H.264 with, preferring the offered
// profile whose profile_idc (two hex digits, "64" for High) is ours; or
// nothing, with *why, the reason for a 400.
std::optional<int> OfferedH264(std::string_view sdp, std::string_view profileIdc, std::string *why);

// The profile_idc of a stream by its caps' profile name ("high" -> "64"), or "" when unknown.
std::string ProfileIdc(std::string_view profile);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_WEBRTC_OFFER_H
