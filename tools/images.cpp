#include "images.h"

#include <libyuv.h>
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace twincam::tools {
namespace {

std::vector<uint8_t> ToRgb(const Nv12View &f) {
    std::vector<uint8_t> rgb(static_cast<size_t>(f.width) * static_cast<size_t>(f.height) * 3);
    const uint8_t *uv = f.data + static_cast<size_t>(f.width) * static_cast<size_t>(f.height);
    // libyuv's RAW is R, G, B in memory, the order PNG wants; BT.601 limited range.
    libyuv::NV12ToRAW(f.data, f.width, uv, f.width, rgb.data(), f.width * 3, f.width, f.height);
    return rgb;
}

}  // namespace

std::string WriteRgbPng(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), width * 3, nullptr) == 0) {
        std::string why = image.message;
        png_image_free(&image);
        return "cannot write " + path + ": " + why;
    }
    return {};
}

void SplitChroma(const Nv12View &frame, std::vector<uint8_t> *u, std::vector<uint8_t> *v) {
    const int cw = frame.width / 2, ch = frame.height / 2;
    u->resize(static_cast<size_t>(cw) * static_cast<size_t>(ch));
    v->resize(u->size());
    const uint8_t *uv = frame.data + static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
    libyuv::SplitUVPlane(uv, frame.width, u->data(), cw, v->data(), cw, cw, ch);
}

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

std::string WritePng(const std::string &path, const Nv12View &frame, int level) {
    const std::vector<uint8_t> rgb = ToRgb(frame);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return "cannot create " + path + ": " + std::strerror(errno);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return "cannot write " + path;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(frame.width), static_cast<png_uint_32>(frame.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, level);
    // One cheap filter: trying all five costs more than it saves at low levels.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, level <= 3 ? PNG_FILTER_SUB : PNG_ALL_FILTERS);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(frame.width) * 3;
    for (int y = 0; y < frame.height; ++y) png_write_row(png, rgb.data() + static_cast<size_t>(y) * stride);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(f) != 0 || std::ferror(f) != 0) {
        const int err = errno;
        std::fclose(f);
        return "cannot write " + path + ": " + std::strerror(err);
    }
    if (std::fclose(f) != 0) return "cannot write " + path + ": " + std::strerror(errno);
    return {};
}

std::string WriteRaw(const std::string &path, const void *data, size_t size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return "cannot create " + path + ": " + std::strerror(errno);
    const bool ok = std::fwrite(data, 1, size, f) == size;
    const int err = errno;
    if (std::fclose(f) != 0 || !ok) return "cannot write " + path + ": " + std::strerror(ok ? errno : err);
    return {};
}

Nv12Image Thumbnail(const Nv12View &frame, int maxWidth) {
    Nv12Image t;
    t.width = std::max(2, std::min(frame.width, maxWidth) & ~1);
    t.height = std::max(2, static_cast<int>(static_cast<int64_t>(frame.height) * t.width / frame.width) & ~1);
    t.bytes.resize(static_cast<size_t>(t.width) * static_cast<size_t>(t.height) * 3 / 2);
    const size_t srcLuma = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
    const size_t dstLuma = static_cast<size_t>(t.width) * static_cast<size_t>(t.height);
    libyuv::NV12Scale(frame.data, frame.width, frame.data + srcLuma, frame.width, frame.width, frame.height,
                      t.bytes.data(), t.width, t.bytes.data() + dstLuma, t.width, t.width, t.height,
                      libyuv::kFilterBox);
    return t;
}

std::string WriteContactSheet(const std::string &path, const std::vector<Nv12Image> &thumbs) {
    if (thumbs.empty()) return "no frames for the contact sheet";
    constexpr int kGap = 4;
    const int count = static_cast<int>(thumbs.size());
    const int columns = std::clamp(static_cast<int>(std::ceil(std::sqrt(count))), 1, 10);
    const int rows = (count + columns - 1) / columns;
    int cellW = 0, cellH = 0;
    for (const Nv12Image &t : thumbs) cellW = std::max(cellW, t.width), cellH = std::max(cellH, t.height);
    const int width = columns * (cellW + kGap) + kGap;
    const int height = rows * (cellH + kGap) + kGap;
    std::vector<uint8_t> sheet(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 48);
    for (int i = 0; i < count; ++i) {
        const std::vector<uint8_t> rgb = ToRgb(thumbs[i].view());
        const int x0 = kGap + (i % columns) * (cellW + kGap);
        const int y0 = kGap + (i / columns) * (cellH + kGap);
        const size_t rowBytes = static_cast<size_t>(thumbs[i].width) * 3;
        for (int y = 0; y < thumbs[i].height; ++y) {
            std::memcpy(&sheet[(static_cast<size_t>(y0 + y) * width + x0) * 3], &rgb[y * rowBytes], rowBytes);
        }
    }
    return WriteRgbPng(path, width, height, sheet);
}

}  // namespace twincam::tools
