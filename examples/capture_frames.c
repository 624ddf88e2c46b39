/* Opens camera 0, reads a few frames and checks each against the registry,
 * frees every buffer, closes the camera. */
#include <stdio.h>

#include <twincam/camera.h>
#include <twincam/platform/acl_runtime.h>

int main(void) {
    if (OpenCameraEx(0, 30, 640, 480) != 0) return 1; /* the library reports why */
    int status = 0;
    for (int i = 0; i < 5 && status == 0; ++i) {
        CameraFrame frame;
        if (ReadCameraFrame(0, &frame) != 0) {
            status = 1;
            break;
        }
        if (frame.size != g_CameraMgr.cameras[0].frameSize) status = 1;
        printf("frame %d: %d bytes%s\n", i, (int)frame.size, status ? " (unexpected size)" : "");
        acldvppFree(frame.data); /* the buffer is ours once the read succeeds */
    }
    if (CloseCameraEx(0) != 0) status = 1;
    return status;
}
