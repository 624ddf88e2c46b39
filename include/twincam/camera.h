/*
 * twincam: synchronous access to at most two cameras (ids 0 and 1).
 *
 * Every operation runs to completion on the caller's thread. The library
 * takes no locks: an application that calls it from several threads
 * serialises the calls itself. Every failure, and every successful open, is
 * reported once to the accelerator runtime's application log and once as a
 * line on standard output ("[ERROR]  ..." or "[INFO]  ...").
 */
#ifndef TWINCAM_CAMERA_H
#define TWINCAM_CAMERA_H

#include <stdbool.h>
#include <stdint.h>

#if defined(TWINCAM_BUILDING_LIBRARY)
#define TWINCAM_API __attribute__((visibility("default")))
#else
#define TWINCAM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Number of camera slots; ids 0 and 1 are the only valid camera ids. */
enum { kCameraCount = 2 };

/* The id an unfilled registry record carries. */
enum { kInvalidCameraId = 255 };

/* One camera's slot in the registry. */
typedef struct CameraRecord {
    bool initialized;  /* filled by the camera's first successful open */
    int32_t id;        /* the slot's own index once filled, 255 before */
    int32_t fps;       /* frame rate of the first successful open */
    int32_t width;     /* pixels */
    int32_t height;    /* pixels */
    int32_t frameSize; /* bytes of one frame: width * height * 3 / 2 */
} CameraRecord;

/* The process-wide registry. */
typedef struct CameraManager {
    bool hwInitialized; /* the camera service's initialisation has been attempted */
    CameraRecord cameras[kCameraCount];
} CameraManager;

/* One delivered frame. */
typedef struct CameraFrame {
    int32_t size; /* bytes of the frame in data */
    void *data;   /* dvpp buffer, owned by the caller: release it with acldvppFree */
} CameraFrame;

#ifdef __cplusplus
#define TWINCAM_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define TWINCAM_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
/* The layout is shared with applications that read g_CameraMgr directly. */
TWINCAM_STATIC_ASSERT(sizeof(bool) == 1, "bool must be one byte");
TWINCAM_STATIC_ASSERT(sizeof(CameraRecord) == 24, "CameraRecord layout changed");
TWINCAM_STATIC_ASSERT(sizeof(CameraManager) == 52, "CameraManager layout changed");
TWINCAM_STATIC_ASSERT(sizeof(CameraFrame) == (sizeof(void *) == 8 ? 16 : 8),
                      "CameraFrame layout changed");
#undef TWINCAM_STATIC_ASSERT

/*
 * The registry. Written only by the library: hwInitialized by HwInit, a
 * camera's record on that camera's first successful OpenCameraEx. It is
 * never reset or cleared while the library is loaded, not even by
 * CloseCameraEx. Applications may read it at any time, for instance the
 * frameSize of an opened camera; they must not write it.
 */
extern TWINCAM_API CameraManager g_CameraMgr;

/*
 * Initialises the camera service the first time it is called; later calls
 * do nothing. A failed initialisation is not retried: it shows as failures
 * of the later camera operations. OpenCameraEx calls it for you.
 */
TWINCAM_API void HwInit(void);

/*
 * Fills the registry record of camera id (0 or 1) with fps, width, height
 * and frameSize = width * height * 3 / 2, overwriting any earlier values.
 * Calls nothing and reports nothing. Returns 0; returns 1 and leaves the
 * registry untouched for an id other than 0 or 1, or for a resolution whose
 * width * height * 3 does not fit in a 32-bit signed integer.
 * OpenCameraEx calls it on a camera's first successful open.
 */
TWINCAM_API int32_t CameraInit(int32_t id, int32_t fps, int32_t width, int32_t height);

/*
 * Sets frame rate, resolution and mode (1), in that order, on an opened
 * camera. Returns 0 when all three were accepted; 1 at the first refusal,
 * reported, with the properties set before it left set. The registry is not
 * touched: a camera reconfigured here keeps its recorded frame size.
 */
TWINCAM_API int32_t ConfigCamera(int32_t id, int32_t fps, int32_t width, int32_t height);

/*
 * Opens camera id (0 or 1) if the camera service reports it closed, and
 * configures it with fps, width and height. Returns 0 when the camera is
 * open and configured; the first success for a camera records these values
 * in g_CameraMgr, later ones leave the record as it is. Returns 1 on any
 * failure, reported; a configuration failure closes the camera, even one
 * that was already open. A failed open never writes a camera record.
 */
TWINCAM_API int32_t OpenCameraEx(int32_t id, int32_t fps, int32_t width, int32_t height);

/*
 * Reads one frame of an opened camera into a new dvpp buffer of the
 * registry's frameSize. Returns 0 with frame->size and frame->data set; the
 * buffer then belongs to the caller, who releases it with acldvppFree.
 * Returns 1 on any failure, reported, with *frame untouched and nothing
 * left allocated. A frame shorter or longer than frameSize is a failure.
 */
TWINCAM_API int32_t ReadCameraFrame(int32_t id, CameraFrame *frame);

/*
 * Closes camera id through the camera service. Returns 0 when the service
 * closed it, 1 (reported) when it refused. The registry is left as it is,
 * and frames delivered earlier remain the caller's to free.
 */
TWINCAM_API int32_t CloseCameraEx(int32_t id);

#ifdef __cplusplus
}
#endif

#endif /* TWINCAM_CAMERA_H */
