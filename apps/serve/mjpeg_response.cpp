#include "mjpeg_response.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "router.h"

namespace twincam::serve {
namespace {
constexpr std::string_view kPartEnd = "\r\n";
}  // namespace

MjpegResponse::MjpegResponse(JpegFrames *jpeg, bool multipart, std::function<void()> park, std::function<void()> wake,
                             std::function<void()> onEnd)
    : jpeg_frames_(jpeg), multipart_(multipart), park_(std::move(park)), wake_(std::move(wake)),
      onEnd_(std::move(onEnd)), number_(jpeg->Join()) {}

MjpegResponse::~MjpegResponse() {
    jpeg_frames_->Leave();
    if (onEnd_) onEnd_();
}

size_t MjpegResponse::PartSize() const {
    return jpeg_ ? head_.size() + jpeg_->bytes.size() + (multipart_ ? kPartEnd.size() : 0) : 0;
}

bool MjpegResponse::NextPart() {
    if (jpeg_) {
        jpeg_frames_->Delivered(jpeg_->readAt);
        if (!multipart_) {
            ended_ = true;
            return false;
        }
    }
    Jpeg next;
    const NextJpeg got = jpeg_frames_->NextOrPark(number_, &next, park_, wake_);
    if (got != NextJpeg::kReady) {
        ended_ = got == NextJpeg::kEnded;
        return false;
    }
    jpeg_ = std::move(next);
    number_ = jpeg_->number;
    offset_ = 0;
    if (multipart_) {
        head_ = "--" + std::string(kBoundary) + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                std::to_string(jpeg_->bytes.size()) + "\r\n\r\n";
    }
    return true;
}

ssize_t MjpegResponse::Read(char *buf, size_t max) {
    if (ended_) return -1;
    if (offset_ == PartSize() && !NextPart()) return ended_ ? -1 : 0;
    const std::string_view pieces[] = {head_, jpeg_->bytes, multipart_ ? kPartEnd : std::string_view()};
    size_t written = 0, start = 0;
    for (const std::string_view piece : pieces) {
        if (offset_ < start + piece.size() && written < max) {
            const size_t from = offset_ - start, n = std::min(piece.size() - from, max - written);
            std::memcpy(buf + written, piece.data() + from, n);
            written += n;
            offset_ += n;
        }
        start += piece.size();
    }
    return static_cast<ssize_t>(written);
}

}  // namespace twincam::serve
