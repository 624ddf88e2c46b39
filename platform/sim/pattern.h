// What the simulated cameras draw: NV12 colour bars that scroll with the
// frame number, a moving box and a machine-readable stamp in the top rows.
#ifndef TWINCAM_SIM_PATTERN_H
#define TWINCAM_SIM_PATTERN_H

#include <cstdint>
#include <memory>
#include <vector>

#include "scene.h"

namespace twincam::sim {

// NV12: a full Y plane and a half-resolution interleaved UV plane.
constexpr int32_t FrameBytes(int32_t width, int32_t height) { return width * height / 2 * 3; }

// The rows a camera copies its frames from, built once per configuration.
class Pattern : public Scene {
public:
    Pattern(int32_t camera, int32_t width, int32_t height);
    int32_t width() const override { return width_; }
    int32_t height() const override { return height_; }
    // Writes the whole frame number `sequence` into out (FrameBytes bytes).
    bool Draw(uint32_t sequence, uint8_t *out) override;

private:
    int32_t camera_, width_, height_;
    int32_t stampRows_;           // luma rows the stamp covers (0 when none)
    int32_t box_;                 // side of the moving box, even
    std::vector<uint8_t> barsY_;  // two bar periods, so any shift is one copy
    std::vector<uint8_t> barsUV_;
    std::vector<uint8_t> boxUV_;
    uint8_t boxY_;
};

// The stamp's 64 bits for a camera and frame number.
uint64_t StampBits(int32_t camera, uint32_t sequence);
// CRC-16/CCITT-FALSE of the given bytes.
uint16_t Crc16(const uint8_t *data, size_t size);

}  // namespace twincam::sim

#endif  // TWINCAM_SIM_PATTERN_H
