/* The registry and frame layouts as a C compiler sees them. */
#include <stddef.h>

#include "twincam/camera.h"

size_t twincam_c_layout(size_t *out, size_t max);

size_t twincam_c_layout(size_t *out, size_t max) {
    const size_t values[] = {
        sizeof(CameraRecord),
        offsetof(CameraRecord, initialized),
        offsetof(CameraRecord, id),
        offsetof(CameraRecord, fps),
        offsetof(CameraRecord, width),
        offsetof(CameraRecord, height),
        offsetof(CameraRecord, frameSize),
        sizeof(CameraManager),
        offsetof(CameraManager, hwInitialized),
        offsetof(CameraManager, cameras),
        sizeof(CameraFrame),
        offsetof(CameraFrame, size),
        offsetof(CameraFrame, data),
    };
    size_t n = sizeof values / sizeof values[0];
    for (size_t i = 0; i < n && i < max; ++i) out[i] = values[i];
    return n;
}
