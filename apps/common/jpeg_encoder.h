// NV12 to JPEG (4:2:0) with TurboJPEG, for every program that writes or
// serves JPEG.
#ifndef TWINCAM_APPS_JPEG_ENCODER_H
#define TWINCAM_APPS_JPEG_ENCODER_H

#include <string>
#include <vector>

#include "nv12.h"

namespace twincam::common {

// The luma goes straight from the frame; the chroma is split into planes
// kept for the next frame. One encoder per thread.
class JpegEncoder {
public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder &) = delete;
    JpegEncoder &operator=(const JpegEncoder &) = delete;
    // The JPEG into *jpeg; empty on success, otherwise what went wrong.
    std::string Encode(const Nv12View &frame, int quality, std::string *jpeg);

private:
    void *handle_;
    std::vector<uint8_t> u_, v_;
};

}  // namespace twincam::common

#endif  // TWINCAM_APPS_JPEG_ENCODER_H
