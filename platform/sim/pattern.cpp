// A plain mid-grey frame.
#include "pattern.h"

#include <cstring>

namespace twincam::sim {

void DrawFrame(const FrameSpec &spec, uint8_t *out, int32_t bytes) {
    const int32_t luma = spec.width * spec.height;
    const int32_t y = bytes < luma ? bytes : luma;
    std::memset(out, 128, static_cast<size_t>(y));
    if (bytes > y) std::memset(out + y, 128, static_cast<size_t>(bytes - y));
}

}  // namespace twincam::sim
