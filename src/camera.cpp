// The registry and the six camera operations.
#include "twincam/camera.h"

#include <cstdint>

#include "report.h"
#include "twincam/platform/acl_runtime.h"
#include "twincam/platform/camera_service.h"

// Static initial values only: loading the library runs none of its code.
CameraManager g_CameraMgr = {
    false,
    {
        {false, kInvalidCameraId, 0, 0, 0, 0},
        {false, kInvalidCameraId, 0, 0, 0, 0},
    },
};

namespace {

// Compared unsigned, so every negative id is rejected with the large ones.
bool IsValidCameraId(int32_t id) {
    return static_cast<uint32_t>(id) < static_cast<uint32_t>(kCameraCount);
}

// width * height * 3 / 2 in 32-bit arithmetic, product first, truncating
// toward zero; false where width * height * 3 leaves the 32-bit signed
// range, so the computation never overflows.
bool ComputeFrameSize(int32_t width, int32_t height, int32_t *frameSize) {
    const int64_t pixels = static_cast<int64_t>(width) * height;
    if (pixels > INT32_MAX / 3 || pixels < INT32_MIN / 3) return false;
    *frameSize = static_cast<int32_t>(pixels) * 3 / 2;
    return true;
}

}  // namespace

extern "C" {

void HwInit(void) {
    if (g_CameraMgr.hwInitialized) return;
    // The result is deliberately not examined: a failed initialisation is
    // never retried and shows later as failures of the service's other calls.
    (void)MediaLibInit();
    g_CameraMgr.hwInitialized = true;
}

int32_t CameraInit(int32_t id, int32_t fps, int32_t width, int32_t height) {
    int32_t frameSize = 0;
    if (!IsValidCameraId(id) || !ComputeFrameSize(width, height, &frameSize)) return 1;
    CameraRecord &record = g_CameraMgr.cameras[id];
    record.initialized = true;
    record.id = id;
    record.fps = fps;
    record.width = width;
    record.height = height;
    record.frameSize = frameSize;
    return 0;
}

int32_t ConfigCamera(int32_t id, int32_t fps, int32_t width, int32_t height) {
    int32_t frameRate = fps;
    if (SetCameraProperty(id, FrameRate, &frameRate) == 0) {
        ReportError("Set camera fps failed");
        return 1;
    }
    CameraResolution resolution = {width, height};
    if (SetCameraProperty(id, Resolution, &resolution) == 0) {
        ReportError("Set camera resolution failed");
        return 1;
    }
    int32_t mode = 1;
    if (SetCameraProperty(id, Mode, &mode) == 0) {
        // The service may have written the value: report what it left.
        ReportError("Set camera mode:%d failed", mode);
        return 1;
    }
    return 0;
}

int32_t OpenCameraEx(int32_t id, int32_t fps, int32_t width, int32_t height) {
    if (!IsValidCameraId(id)) {
        ReportError("Open camera failed for invalid id %d", id);
        return 1;
    }
    // A frame size that does not fit would size every buffer wrongly and
    // report an open that can never deliver a frame.
    int32_t frameSize = 0;
    if (!ComputeFrameSize(width, height, &frameSize)) {
        ReportError("Open camera %d failed for unsupported resolution %dx%d", id, width, height);
        return 1;
    }
    HwInit();
    const int32_t status = QueryCameraStatus(id);
    if (status == Closed) {
        if (OpenCamera(id) == 0) {
            ReportError("Camera%d closed, and open failed.", id);
            return 1;
        }
    } else if (status != Open) {
        ReportError("Invalid camera%d status %d", id, status);
        return 1;
    }
    if (ConfigCamera(id, fps, width, height) != 0) {
        // Leave the camera closed, even one that was open before this call.
        (void)CloseCamera(id);
        ReportError("Set camera%d property failed", id);
        return 1;
    }
    // The record keeps the parameters of the camera's first successful open.
    if (!g_CameraMgr.cameras[id].initialized) (void)CameraInit(id, fps, width, height);
    ReportInfo("Open camera %d success", id);
    return 0;
}

int32_t ReadCameraFrame(int32_t id, CameraFrame *frame) {
    // Both checks come before the allocation, so a refusal leaves nothing behind.
    if (!IsValidCameraId(id)) {
        ReportError("Read camera frame failed for invalid id %d", id);
        return 1;
    }
    if (frame == nullptr) {
        ReportError("Read camera %d frame failed for null frame record", id);
        return 1;
    }
    void *buffer = nullptr;
    int32_t size = g_CameraMgr.cameras[id].frameSize;
    // The 32-bit size is sign-extended to the allocator's 64-bit argument.
    const int32_t ret = acldvppMalloc(&buffer, static_cast<uint64_t>(static_cast<int64_t>(size)));
    if (ret != 0) {
        ReportError("acl malloc dvpp data failed, dataSize %d, error %d", size, ret);
        return 1;
    }
    // The service writes straight into the caller's buffer: no copy.
    if (ReadFrameFromCamera(id, buffer, &size) != 0 && size == g_CameraMgr.cameras[id].frameSize) {
        frame->size = size;
        frame->data = buffer;
        return 0;
    }
    (void)acldvppFree(buffer);
    ReportError("Get image from camera %d failed, size %d", id, size);
    return 1;
}

int32_t CloseCameraEx(int32_t id) {
    if (CloseCamera(id) == 0) {
        ReportError("Close camera %d failed", id);
        return 1;
    }
    return 0;
}

}  // extern "C"
