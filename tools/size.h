// The WIDTHxHEIGHT option value the tools share.
#ifndef TWINCAM_TOOLS_SIZE_H
#define TWINCAM_TOOLS_SIZE_H

#include <cstdio>
#include <string>

namespace twincam::tools {

// Both positive, nothing after the height.
inline bool ParseSize(const std::string &text, int *width, int *height) {
    int w = 0, h = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &extra) != 2 || w <= 0 || h <= 0) return false;
    *width = w;
    *height = h;
    return true;
}

}  // namespace twincam::tools

#endif  // TWINCAM_TOOLS_SIZE_H
