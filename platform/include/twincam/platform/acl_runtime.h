/*
 * The accelerator runtime operations twincam calls: the application log
 * (libascendcl.so) and the dvpp memory allocator (libacl_dvpp.so).
 */
#ifndef TWINCAM_PLATFORM_ACL_RUNTIME_H
#define TWINCAM_PLATFORM_ACL_RUNTIME_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Levels of the application log. */
typedef enum aclLogLevel {
    ACL_DEBUG = 0,
    ACL_INFO = 1,
    ACL_WARNING = 2,
    ACL_ERROR = 3,
} aclLogLevel;

/* Error code of the runtime for a parameter it cannot accept. */
enum { ACL_ERROR_INVALID_PARAM = 100000, ACL_ERROR_BAD_ALLOC = 200000 };

/* One application log record: level, reporting site and printf-style message. */
/* level: an aclLogLevel. */
void aclAppLog(int32_t level, const char *func, const char *file, uint32_t line,
               const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    ;

/* Allocates size bytes of dvpp memory into *devPtr; 0 on success, else an error code. */
int32_t acldvppMalloc(void **devPtr, uint64_t size);
/* Releases a buffer from acldvppMalloc; 0 on success, else an error code. */
int32_t acldvppFree(void *devPtr);

#ifdef __cplusplus
}
#endif

#endif /* TWINCAM_PLATFORM_ACL_RUNTIME_H */
