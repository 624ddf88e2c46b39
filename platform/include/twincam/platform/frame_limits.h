/*
 * What the platform's cameras deliver: NV12 frames of even sides from 2 to
 * 8192 pixels, at a whole 1 to 240 frames per second. The stand-ins accept
 * exactly this; the programs, the element and the module check it before
 * they open a camera, so a request outside it fails with a clear reason.
 */
#ifndef TWINCAM_PLATFORM_FRAME_LIMITS_H
#define TWINCAM_PLATFORM_FRAME_LIMITS_H

#include <stdint.h>

enum {
    TWINCAM_MIN_SIDE = 2,
    TWINCAM_MAX_SIDE = 8192,
    TWINCAM_MIN_FPS = 1,
    TWINCAM_MAX_FPS = 240
};

/* Nonzero when width x height is a size the cameras deliver. */
static inline int twincam_frame_size_ok(int32_t width, int32_t height) {
    return width >= TWINCAM_MIN_SIDE && width <= TWINCAM_MAX_SIDE && width % 2 == 0 &&
           height >= TWINCAM_MIN_SIDE && height <= TWINCAM_MAX_SIDE && height % 2 == 0;
}

/* Nonzero when fps is a frame rate the cameras deliver. */
static inline int twincam_frame_rate_ok(int32_t fps) {
    return fps >= TWINCAM_MIN_FPS && fps <= TWINCAM_MAX_FPS;
}

#endif /* TWINCAM_PLATFORM_FRAME_LIMITS_H */
