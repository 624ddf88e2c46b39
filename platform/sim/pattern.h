// What the simulated cameras draw into a frame.
#ifndef TWINCAM_SIM_PATTERN_H
#define TWINCAM_SIM_PATTERN_H

#include <cstdint>

namespace twincam::sim {

struct FrameSpec {
    int32_t camera;
    int32_t width;   // even, positive
    int32_t height;  // even, positive
    uint32_t sequence;
};

// NV12: a full Y plane and a half-resolution interleaved UV plane.
constexpr int32_t FrameBytes(int32_t width, int32_t height) { return width * height / 2 * 3; }

// Writes the first `bytes` bytes (at most one frame) of the frame into out.
void DrawFrame(const FrameSpec &spec, uint8_t *out, int32_t bytes);

}  // namespace twincam::sim

#endif  // TWINCAM_SIM_PATTERN_H
