// Pictures the tools write: NV12 frames as PNG, JPEG and raw NV12, and a
// contact sheet of thumbnails.
#ifndef TWINCAM_TOOLS_IMAGES_H
#define TWINCAM_TOOLS_IMAGES_H

#include <cstdint>
#include <string>
#include <vector>

namespace twincam::tools {

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

// NV12 to JPEG (4:2:0) with TurboJPEG: the luma straight from the frame,
// the chroma split into planes kept for the next frame. One per thread.
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

// Each returns an empty string on success, otherwise what went wrong.
// level: zlib's 0 (none) to 9 (smallest, slowest).
std::string WritePng(const std::string &path, const Nv12View &frame, int level = 6);
std::string WriteRgbPng(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb);
std::string WriteRaw(const std::string &path, const void *data, size_t size);

// A copy of the frame scaled to at most maxWidth pixels wide (even sizes).
Nv12Image Thumbnail(const Nv12View &frame, int maxWidth);

// All thumbnails on one picture, in order, as a grid with thin gaps.
std::string WriteContactSheet(const std::string &path, const std::vector<Nv12Image> &thumbs);

}  // namespace twincam::tools

#endif  // TWINCAM_TOOLS_IMAGES_H
