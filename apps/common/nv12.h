// NV12 frames as the cameras deliver them: a luma plane followed by
// interleaved chroma at half the resolution, and the conversions the
// programs and the Python module share (libyuv, BT.601 limited range).
#ifndef TWINCAM_APPS_NV12_H
#define TWINCAM_APPS_NV12_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace twincam::common {

struct Nv12View {
    const uint8_t *data;
    int width;
    int height;
};

// An NV12 image held by value.
struct Nv12Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;
    Nv12View view() const { return {bytes.data(), width, height}; }
};

// The interleaved chroma split into planes, as 4:2:0 planar formats keep
// it: u and v are resized to (width/2) * (height/2) bytes each.
void SplitChroma(const Nv12View &frame, std::vector<uint8_t> *u, std::vector<uint8_t> *v);

// R, G, B bytes in that order into rgb, width * height * 3 of them.
void Nv12ToRgb(const Nv12View &frame, uint8_t *rgb);

// Two frames in one, left beside right, the lower one padded with black.
Nv12Image SideBySide(const Nv12View &left, const Nv12View &right);

// A copy of the frame scaled to at most maxWidth pixels wide (even sizes).
Nv12Image Thumbnail(const Nv12View &frame, int maxWidth);

}  // namespace twincam::common

#endif  // TWINCAM_APPS_NV12_H
