/* A C application's view: the header compiles as strict C11 and the
 * exported registry holds its static initial values at start. */
#include <stdio.h>

#include "twincam/camera.h"

int main(void) {
    int bad = g_CameraMgr.hwInitialized;
    for (int i = 0; i < kCameraCount; ++i) {
        const CameraRecord *r = &g_CameraMgr.cameras[i];
        bad |= r->initialized || r->id != kInvalidCameraId || r->fps != 0 || r->width != 0 ||
               r->height != 0 || r->frameSize != 0;
    }
    if (bad) {
        fprintf(stderr, "g_CameraMgr does not start unfilled\n");
        return 1;
    }
    return 0;
}
