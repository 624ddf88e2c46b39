#include "nv12.h"

#include <libyuv.h>

#include <algorithm>

namespace twincam::common {

namespace {
size_t LumaBytes(int width, int height) { return static_cast<size_t>(width) * static_cast<size_t>(height); }
}  // namespace

void SplitChroma(const Nv12View &frame, std::vector<uint8_t> *u, std::vector<uint8_t> *v) {
    const int cw = frame.width / 2, ch = frame.height / 2;
    u->resize(LumaBytes(cw, ch));
    v->resize(u->size());
    const uint8_t *uv = frame.data + LumaBytes(frame.width, frame.height);
    libyuv::SplitUVPlane(uv, frame.width, u->data(), cw, v->data(), cw, cw, ch);
}

void Nv12ToRgb(const Nv12View &frame, uint8_t *rgb) {
    const uint8_t *uv = frame.data + LumaBytes(frame.width, frame.height);
    // libyuv's RAW is R, G, B in memory.
    libyuv::NV12ToRAW(frame.data, frame.width, uv, frame.width, rgb, frame.width * 3, frame.width, frame.height);
}

Nv12Image SideBySide(const Nv12View &left, const Nv12View &right) {
    Nv12Image joined;
    joined.width = left.width + right.width;
    joined.height = std::max(left.height, right.height);
    const size_t luma = LumaBytes(joined.width, joined.height);
    joined.bytes.assign(luma, 16);  // black in limited range: Y 16, U and V 128
    joined.bytes.resize(luma + luma / 2, 128);
    int x0 = 0;
    for (const Nv12View *part : {&left, &right}) {
        const uint8_t *uv = part->data + LumaBytes(part->width, part->height);
        libyuv::CopyPlane(part->data, part->width, joined.bytes.data() + x0, joined.width, part->width, part->height);
        libyuv::CopyPlane(uv, part->width, joined.bytes.data() + luma + x0, joined.width, part->width,
                          part->height / 2);
        x0 += part->width;
    }
    return joined;
}

Nv12Image Thumbnail(const Nv12View &frame, int maxWidth) {
    Nv12Image t;
    t.width = std::max(2, std::min(frame.width, maxWidth) & ~1);
    t.height = std::max(2, static_cast<int>(static_cast<int64_t>(frame.height) * t.width / frame.width) & ~1);
    t.bytes.resize(LumaBytes(t.width, t.height) * 3 / 2);
    const size_t srcLuma = LumaBytes(frame.width, frame.height), dstLuma = LumaBytes(t.width, t.height);
    libyuv::NV12Scale(frame.data, frame.width, frame.data + srcLuma, frame.width, frame.width, frame.height,
                      t.bytes.data(), t.width, t.bytes.data() + dstLuma, t.width, t.width, t.height,
                      libyuv::kFilterBox);
    return t;
}

}  // namespace twincam::common
