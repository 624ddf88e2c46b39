// One client's share of a camera: an MJPEG stream (a multipart part per
// JPEG, always the newest one when the client is ready for the next) or a
// snapshot (one JPEG). The server pulls bytes as the client's socket takes
// them; with nothing new to send, the client is parked until there is.
#ifndef TWINCAM_SERVE_MJPEG_RESPONSE_H
#define TWINCAM_SERVE_MJPEG_RESPONSE_H

#include <sys/types.h>

#include <functional>
#include <string>

#include "jpeg_frames.h"

namespace twincam::serve {

class MjpegResponse {
public:
    // Joins jpeg's clients until it is freed. park() stops the server asking
    // this client for bytes; wake() (from any thread) lets it ask again.
    // onEnd runs when the response is freed.
    MjpegResponse(JpegFrames *jpeg, bool multipart, std::function<void()> park, std::function<void()> wake,
                  std::function<void()> onEnd);
    ~MjpegResponse();
    MjpegResponse(const MjpegResponse &) = delete;
    MjpegResponse &operator=(const MjpegResponse &) = delete;

    // Up to max bytes into buf: how many, 0 when parked, -1 at the end.
    ssize_t Read(char *buf, size_t max);

private:
    size_t PartSize() const;
    bool NextPart();  // false when parked or ended; ended_ tells which

    JpegFrames *const jpeg_frames_;
    const bool multipart_;
    std::function<void()> park_, wake_, onEnd_;
    Jpeg jpeg_;
    std::string head_;
    size_t offset_ = 0;  // into head_, the JPEG, then the part's closing CRLF
    uint64_t number_;  // the JPEG sent last: at first, the newest when the client came
    bool ended_ = false;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_MJPEG_RESPONSE_H
