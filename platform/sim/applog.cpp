// The application log: keeps every record, echoes those at or above a level
// to standard error and tells a hook, as a test's second sink.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ring.h"
#include "sim_core.h"

namespace twincam::sim {
namespace {

int32_t ParseLogLevel(const char *text) {
    static const char *const kNames[] = {"debug", "info", "warning", "error", "none"};
    for (int32_t i = 0; i <= TWINCAM_SIM_LOG_NONE; ++i) {
        if (std::strcmp(text, kNames[i]) == 0) return i;
    }
    if (text[0] >= '0' && text[0] <= '4' && text[1] == '\0') return text[0] - '0';
    return -1;
}

struct Log {
    std::mutex mutex;
    Ring<twincam_sim_log_record> records{TWINCAM_SIM_LOG_CAPACITY};
    int32_t echoLevel = ACL_ERROR;
    twincam_sim_log_hook hook = nullptr;
    void *hookUser = nullptr;

    Log() {
        if (const char *level = std::getenv("TWINCAM_SIM_LOG_LEVEL")) {
            const int32_t parsed = ParseLogLevel(level);
            if (parsed >= 0) echoLevel = parsed;
            else std::fprintf(stderr, "twincam-sim: ignoring TWINCAM_SIM_LOG_LEVEL=%s\n", level);
        }
    }
};

Log &TheLog() {
    static Log log;
    return log;
}

void Copy(char *dst, size_t len, const char *src) {
    std::snprintf(dst, len, "%s", src != nullptr ? src : "(null)");
}

}  // namespace

void AppLog(int32_t level, const char *func, const char *file, uint32_t line, const char *fmt, va_list args) {
    twincam_sim_log_record record{};
    record.level = level;
    record.line = line;
    Copy(record.func, sizeof record.func, func);
    Copy(record.file, sizeof record.file, file);
    Copy(record.format, sizeof record.format, fmt);
    if (fmt != nullptr) std::vsnprintf(record.message, sizeof record.message, fmt, args);
    int32_t unused = 0;
    TakeFault(TWINCAM_SIM_OP_LOG, &unused);  // counts the call; the log cannot fail
    twincam_sim_call call{};
    call.op = TWINCAM_SIM_OP_LOG;
    call.id = record.level;
    Journal(call);

    Log &l = TheLog();
    twincam_sim_log_hook hook = nullptr;
    void *user = nullptr;
    bool echo = false;
    {
        std::lock_guard<std::mutex> lock(l.mutex);
        l.records.Push(record);
        hook = l.hook;
        user = l.hookUser;
        echo = record.level >= l.echoLevel;
    }
    if (echo) {
        static const char *const kLevels[] = {"DEBUG", "INFO", "WARNING", "ERROR"};
        const char *name = record.level >= 0 && record.level <= 3 ? kLevels[record.level] : "LOG";
        std::fprintf(stderr, "twincam-sim: %s %s:%" PRIu32 " %s: %s\n", name, record.file, record.line,
                     record.func, record.message);
    }
    if (hook != nullptr) hook(&record, user);
}

void LogReset() {
    std::lock_guard<std::mutex> lock(TheLog().mutex);
    TheLog().records.Clear();
}

}  // namespace twincam::sim

using namespace twincam::sim;

extern "C" {

TWINCAM_SIM_EXPORT size_t twincam_sim_log_size(void) {
    std::lock_guard<std::mutex> lock(TheLog().mutex);
    return TheLog().records.Size();
}

TWINCAM_SIM_EXPORT int twincam_sim_log_get(size_t index, twincam_sim_log_record *out) {
    std::lock_guard<std::mutex> lock(TheLog().mutex);
    return TheLog().records.Get(index, out) ? 0 : -1;
}

TWINCAM_SIM_EXPORT void twincam_sim_log_clear(void) { LogReset(); }

TWINCAM_SIM_EXPORT void twincam_sim_set_log_level(int32_t level) {
    std::lock_guard<std::mutex> lock(TheLog().mutex);
    TheLog().echoLevel = level;
}

TWINCAM_SIM_EXPORT void twincam_sim_set_log_hook(twincam_sim_log_hook hook, void *user) {
    std::lock_guard<std::mutex> lock(TheLog().mutex);
    TheLog().hook = hook;
    TheLog().hookUser = user;
}

}  // extern "C"
