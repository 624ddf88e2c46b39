#include "png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace twincam::common {

namespace {

// Rows into an open file; false when libpng gave up.
bool WriteRows(FILE *f, int width, int height, const uint8_t *rgb, int level) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, level);
    // One cheap filter: trying all five costs more than it saves at low levels.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, level <= 3 ? PNG_FILTER_SUB : PNG_ALL_FILTERS);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y) png_write_row(png, rgb + static_cast<size_t>(y) * stride);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::string WriteRgbPng(const std::string &path, int width, int height, const uint8_t *rgb, int level) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return "cannot create " + path + ": " + std::strerror(errno);
    if (!WriteRows(f, width, height, rgb, level)) {
        std::fclose(f);
        return "cannot write " + path;
    }
    if (std::fflush(f) != 0 || std::ferror(f) != 0) {
        const int err = errno;
        std::fclose(f);
        return "cannot write " + path + ": " + std::strerror(err);
    }
    if (std::fclose(f) != 0) return "cannot write " + path + ": " + std::strerror(errno);
    return {};
}

std::string WritePng(const std::string &path, const Nv12View &frame, int level) {
    std::vector<uint8_t> rgb(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 3);
    Nv12ToRgb(frame, rgb.data());
    return WriteRgbPng(path, frame.width, frame.height, rgb.data(), level);
}

}  // namespace twincam::common
