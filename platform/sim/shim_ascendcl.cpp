// libascendcl.so stand-in: the application log.
#include "sim_core.h"

extern "C" TWINCAM_SIM_EXPORT void aclAppLog(int32_t level, const char *func, const char *file,
                                             uint32_t line, const char *fmt, ...) {
    const twincam::sim::CallInFlight call;
    va_list args;
    va_start(args, fmt);
    twincam::sim::AppLog(level, func, file, line, fmt, args);
    va_end(args);
}
