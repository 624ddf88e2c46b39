#include "jpeg_encoder.h"

#include <turbojpeg.h>

namespace twincam::common {

JpegEncoder::JpegEncoder() : handle_(tjInitCompress()) {}

JpegEncoder::~JpegEncoder() {
    if (handle_ != nullptr) tjDestroy(handle_);
}

std::string JpegEncoder::Encode(const Nv12View &frame, int quality, std::string *jpeg) {
    if (handle_ == nullptr) return "TurboJPEG could not start";
    SplitChroma(frame, &u_, &v_);
    const unsigned char *planes[3] = {frame.data, u_.data(), v_.data()};
    const int strides[3] = {frame.width, frame.width / 2, frame.width / 2};
    unsigned char *out = nullptr;
    unsigned long size = 0;
    if (tjCompressFromYUVPlanes(handle_, planes, frame.width, strides, frame.height, TJSAMP_420, &out, &size, quality,
                                TJFLAG_FASTDCT) != 0) {
        tjFree(out);
        return std::string("JPEG compression failed: ") + tjGetErrorStr2(handle_);
    }
    jpeg->assign(reinterpret_cast<const char *>(out), size);
    tjFree(out);
    return "";
}

}  // namespace twincam::common
