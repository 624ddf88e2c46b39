/*
 * The camera service (libmedia_mini.so) as twincam calls it.
 *
 * Success is a nonzero result and failure a zero result, except for
 * QueryCameraStatus, whose result is a CameraStatus.
 */
#ifndef TWINCAM_PLATFORM_CAMERA_SERVICE_H
#define TWINCAM_PLATFORM_CAMERA_SERVICE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What QueryCameraStatus answers; every other value is an invalid status.
 * The operations take and return plain int32_t, so a service may answer any
 * value without it being an out-of-range enumeration. */
typedef enum CameraStatus {
    Open = 1,   /* open: can be configured without opening */
    Closed = 2, /* must be opened first */
} CameraStatus;

/* Property identifiers for SetCameraProperty, with the value passed. */
typedef enum CameraProperty {
    Resolution = 1, /* CameraResolution */
    FrameRate = 2,  /* int32_t, frames per second */
    Mode = 5,       /* int32_t; twincam always passes 1 */
} CameraProperty;

typedef struct CameraResolution {
    int32_t width;  /* pixels */
    int32_t height; /* pixels */
} CameraResolution;

/* Initialises the service; called once per loaded twincam library. */
int32_t MediaLibInit(void);
/* A CameraStatus, or any other value for an invalid status. */
int32_t QueryCameraStatus(int32_t id);
int32_t OpenCamera(int32_t id);
/* property: a CameraProperty; value points to the type it names, and the
 * service may write it. */
int32_t SetCameraProperty(int32_t id, int32_t property, void *value);
/* *size: the buffer's capacity on entry, the frame's byte count on return. */
int32_t ReadFrameFromCamera(int32_t id, void *data, int32_t *size);
int32_t CloseCamera(int32_t id);

#ifdef __cplusplus
}
#endif

#endif /* TWINCAM_PLATFORM_CAMERA_SERVICE_H */
