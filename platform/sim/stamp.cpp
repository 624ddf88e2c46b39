// The stamp simulated frames carry in their top rows: 64 black or white
// blocks holding a marker, the camera id, the frame number and a CRC-16.
// Shared by the pattern and the footage module.
#include <algorithm>
#include <cstring>

#include "pattern.h"
#include "stamp_bits.h"
#include "twincam/sim/twincam_sim.h"

namespace twincam::sim {

uint16_t Crc16(const uint8_t *data, size_t size) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

uint64_t StampBits(int32_t camera, uint32_t sequence) {
    const uint8_t bytes[6] = {kStampMarker, static_cast<uint8_t>(camera), static_cast<uint8_t>(sequence >> 24),
                              static_cast<uint8_t>(sequence >> 16), static_cast<uint8_t>(sequence >> 8),
                              static_cast<uint8_t>(sequence)};
    uint64_t bits = 0;
    for (uint8_t b : bytes) bits = bits << 8 | b;
    return bits << 16 | Crc16(bytes, sizeof bytes);
}

void DrawStamp(int32_t camera, uint32_t sequence, int32_t width, int32_t height, uint8_t *out) {
    if (width < TWINCAM_SIM_STAMP_MIN_WIDTH) return;
    const size_t w = static_cast<size_t>(width);
    const auto rows = static_cast<size_t>(std::min(width / 64, height));
    const uint64_t bits = StampBits(camera, sequence);
    const size_t block = w / 64;
    std::memset(out, kBlack, w);  // also the pixels right of the 64th block
    for (size_t i = 0; i < 64; ++i) {
        if ((bits >> (63 - i)) & 1) std::memset(out + i * block, kWhite, block);
    }
    for (size_t r = 1; r < rows; ++r) std::memcpy(out + r * w, out, w);
    std::memset(out + w * static_cast<size_t>(height), kNeutral, (rows + 1) / 2 * w);
}

}  // namespace twincam::sim
