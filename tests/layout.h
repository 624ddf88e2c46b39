/* The sizes and offsets of the types shared with C applications, listed
 * once for the C and the C++ compiler to evaluate each. */
#ifndef TWINCAM_TESTS_LAYOUT_H
#define TWINCAM_TESTS_LAYOUT_H

#include <stddef.h>

#include "twincam/camera.h"

#define TWINCAM_LAYOUT_VALUES                                                                            \
    sizeof(CameraRecord), offsetof(CameraRecord, initialized), offsetof(CameraRecord, id),               \
        offsetof(CameraRecord, fps), offsetof(CameraRecord, width), offsetof(CameraRecord, height),      \
        offsetof(CameraRecord, frameSize), sizeof(CameraManager), offsetof(CameraManager, hwInitialized), \
        offsetof(CameraManager, cameras), sizeof(CameraFrame), offsetof(CameraFrame, size),              \
        offsetof(CameraFrame, data)

#ifdef __cplusplus
extern "C" {
#endif
/* Copies up to max values as C lays them out; returns how many there are. */
size_t twincam_c_layout(size_t *out, size_t max);
#ifdef __cplusplus
}
#endif

#endif /* TWINCAM_TESTS_LAYOUT_H */
