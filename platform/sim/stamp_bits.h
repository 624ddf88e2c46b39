// Values the stamp and the pattern share.
#ifndef TWINCAM_SIM_STAMP_BITS_H
#define TWINCAM_SIM_STAMP_BITS_H

#include <cstdint>

namespace twincam::sim {

constexpr uint8_t kStampMarker = 0xC5;
// BT.601 limited range.
constexpr uint8_t kBlack = 16, kWhite = 235, kNeutral = 128;

}  // namespace twincam::sim

#endif  // TWINCAM_SIM_STAMP_BITS_H
