// PNG files of frames and of pictures made from them (libpng).
#ifndef TWINCAM_APPS_PNG_WRITER_H
#define TWINCAM_APPS_PNG_WRITER_H

#include <cstdint>
#include <string>

#include "nv12.h"

namespace twincam::common {

// Each returns an empty string on success, otherwise what went wrong.
// level: zlib's 0 (none) to 9 (smallest, slowest).
std::string WriteRgbPng(const std::string &path, int width, int height, const uint8_t *rgb, int level);
// The frame converted to RGB.
std::string WritePng(const std::string &path, const Nv12View &frame, int level);

}  // namespace twincam::common

#endif  // TWINCAM_APPS_PNG_WRITER_H
