// The frame's own sequence number, where its camera stamps one: the
// simulated cameras do; on hardware this is false and the tools count.
#ifndef TWINCAM_TOOLS_STAMP_H
#define TWINCAM_TOOLS_STAMP_H

#include <cstdint>

#if TWINCAM_TOOLS_STAMPS
#include "twincam/sim/twincam_sim.h"
#endif

namespace twincam::tools {

inline bool ReadStamp([[maybe_unused]] const void *luma, [[maybe_unused]] int width, [[maybe_unused]] int height,
                      [[maybe_unused]] int *camera, [[maybe_unused]] uint32_t *sequence) {
#if TWINCAM_TOOLS_STAMPS
    twincam_sim_stamp stamp{};
    if (twincam_sim_stamp_decode(luma, width, height, &stamp) != 0) return false;
    *camera = stamp.camera;
    *sequence = stamp.sequence;
    return true;
#else
    return false;
#endif
}

}  // namespace twincam::tools

#endif  // TWINCAM_TOOLS_STAMP_H
