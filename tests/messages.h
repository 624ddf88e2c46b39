// The library's reports as the tests expect them: every format it reports
// with, the function that reports it and at which level. The one place a
// change of wording is made. Header-only, so the fuzz target shares it.
#ifndef TWINCAM_TESTS_MESSAGES_H
#define TWINCAM_TESTS_MESSAGES_H

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "twincam/platform/acl_runtime.h"

namespace twincam::test {

// Each format: its name, the function that reports it, its level and its
// text, whose arguments are the ones the comment names.
#define TWINCAM_TEST_FORMATS(X)                                                                                                     \
    X(FpsFailed, "ConfigCamera", ACL_ERROR, "Set camera fps failed")                                                                \
    X(ResolutionFailed, "ConfigCamera", ACL_ERROR, "Set camera resolution failed")                                                  \
    X(ModeFailed, "ConfigCamera", ACL_ERROR, "Set camera mode:%d failed") /* mode */                                                \
    X(OpenInvalidId, "OpenCameraEx", ACL_ERROR, "Open camera failed for invalid id %d") /* id */                                    \
    X(OpenUnsupported, "OpenCameraEx", ACL_ERROR, "Open camera %d failed for unsupported resolution %dx%d") /* id, width, height */ \
    X(OpenRefused, "OpenCameraEx", ACL_ERROR, "Camera%d closed, and open failed.") /* id */                                         \
    X(InvalidStatus, "OpenCameraEx", ACL_ERROR, "Invalid camera%d status %d") /* id, status */                                      \
    X(PropertyFailed, "OpenCameraEx", ACL_ERROR, "Set camera%d property failed") /* id */                                           \
    X(OpenSuccess, "OpenCameraEx", ACL_INFO, "Open camera %d success") /* id */                                                     \
    X(ReadInvalidId, "ReadCameraFrame", ACL_ERROR, "Read camera frame failed for invalid id %d") /* id */                           \
    X(ReadNullRecord, "ReadCameraFrame", ACL_ERROR, "Read camera %d frame failed for null frame record") /* id */                   \
    X(MallocFailed, "ReadCameraFrame", ACL_ERROR, "acl malloc dvpp data failed, dataSize %d, error %d") /* size, error */           \
    X(ReadFailed, "ReadCameraFrame", ACL_ERROR, "Get image from camera %d failed, size %d") /* id, size */                          \
    X(CloseFailed, "CloseCameraEx", ACL_ERROR, "Close camera %d failed") /* id */

struct Format {
    const char *func;
    int level;
    const char *format;
};

#define TWINCAM_TEST_NAME(name, func, level, format) name,
#define TWINCAM_TEST_FORMAT(name, func, level, format) {func, level, format},
enum class Msg { TWINCAM_TEST_FORMATS(TWINCAM_TEST_NAME) };
inline constexpr Format kFormats[] = {TWINCAM_TEST_FORMATS(TWINCAM_TEST_FORMAT)};
#undef TWINCAM_TEST_NAME
#undef TWINCAM_TEST_FORMAT

// One report: its log record's level, function and message.
struct Report {
    int level;
    std::string func;
    std::string text;
};

inline Report R(Msg m, ...) {
    const Format &f = kFormats[static_cast<size_t>(m)];
    char text[512];
    va_list args;
    va_start(args, m);
    std::vsnprintf(text, sizeof text, f.format, args);
    va_end(args);
    return {f.level, f.func, text};
}

// The line a report puts on standard output.
inline std::string Line(int level, const std::string &text) {
    return (level == ACL_ERROR ? "[ERROR]  " : "[INFO]  ") + text + "\n";
}
inline std::string Line(const Report &r) { return Line(r.level, r.text); }

// The entry a log record's function, level and format match, or nullptr.
inline const Format *FindFormat(const char *func, int level, const char *format) {
    for (const Format &f : kFormats) {
        if (f.level == level && std::strcmp(f.func, func) == 0 && std::strcmp(f.format, format) == 0) return &f;
    }
    return nullptr;
}

}  // namespace twincam::test

#endif  // TWINCAM_TESTS_MESSAGES_H
