// The library's one way of reporting: every report goes to the accelerator
// runtime's application log (with its call site) and, as one line, to stdout.
#ifndef TWINCAM_SRC_REPORT_H
#define TWINCAM_SRC_REPORT_H

#include <cstdio>

#include "twincam/platform/acl_runtime.h"

#ifdef __FILE_NAME__
#define TWINCAM_FILE_NAME __FILE_NAME__
#else
namespace twincam {
// The log wants the bare file name, never the build machine's directories.
constexpr const char *BareFileName(const char *path) {
    const char *name = path;
    for (const char *p = path; *p != '\0'; ++p) {
        if (*p == '/') name = p + 1;
    }
    return name;
}
}  // namespace twincam
#define TWINCAM_FILE_NAME (::twincam::BareFileName(__FILE__))
#endif

// The prefix and newline are joined to the format at compile time, so the
// stdout line is one formatted write and both calls are format-checked.
// The results of both writes are ignored: a failing sink changes nothing.
#define TWINCAM_REPORT(level, prefix, fmt, ...)                                      \
    do {                                                                            \
        aclAppLog((level), __func__, TWINCAM_FILE_NAME, static_cast<uint32_t>(__LINE__), \
                  fmt, ##__VA_ARGS__);                                              \
        (void)std::printf(prefix fmt "\n", ##__VA_ARGS__);                          \
    } while (0)

#define ReportError(fmt, ...) TWINCAM_REPORT(ACL_ERROR, "[ERROR]  ", fmt, ##__VA_ARGS__)
#define ReportInfo(fmt, ...) TWINCAM_REPORT(ACL_INFO, "[INFO]  ", fmt, ##__VA_ARGS__)

#endif  // TWINCAM_SRC_REPORT_H
