#include "log.h"

#if TWINCAM_WITH_GLIB
#include <glib.h>
#endif

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace twincam::serve {

namespace {
// Kinds remembered at once; a flood of distinct lines cannot grow the table past it.
constexpr size_t kKinds = 256;
}  // namespace

bool LogLimit::Admit(const std::string &kind, const std::string &line, Clock::time_point now) {
    if (kinds_.size() >= kKinds && kinds_.count(kind) == 0) Forget(now);
    Kind &k = kinds_.try_emplace(kind, Kind{now, now, 0, 0, {}}).first->second;
    if (now - k.seen >= kWindow) {
        k.written = 0;  // quiet for a minute: a fresh start
        k.since = now;
    } else if (now - k.since >= kWindow && k.held == 0) {
        k.written = 0;  // within its burst for a whole minute: a fresh minute
        k.since = now;
    }
    // Held back, it stays held back while it keeps coming: Flush says its count once a minute.
    k.seen = now;
    if (k.written < kBurst) {
        ++k.written;
        return true;
    }
    ++k.held;
    ++suppressed_;
    k.last = line;
    return false;
}

std::vector<std::pair<std::string, long>> LogLimit::Flush(Clock::time_point now, bool everything) {
    std::vector<std::pair<std::string, long>> said;
    for (auto &entry : kinds_) {
        Kind &k = entry.second;
        if (k.held == 0 || (!everything && now - k.since < kWindow)) continue;
        said.emplace_back(k.last, k.held);
        k.held = 0;
        k.since = now;
    }
    return said;
}

// Kinds quiet for a minute go; if none is, the table starts afresh (counts already said stay counted).
void LogLimit::Forget(Clock::time_point now) {
    for (auto it = kinds_.begin(); it != kinds_.end();) {
        it = it->second.held == 0 && now - it->second.seen >= kWindow ? kinds_.erase(it) : std::next(it);
    }
    if (kinds_.size() >= kKinds) kinds_.clear();
}

namespace {

std::mutex g_mutex;
LogLimit g_limit;

void Write(const std::string &kind, const std::string &line) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_limit.Admit(kind, line, LogLimit::Clock::now())) std::fprintf(stderr, "twincam-serve: %s\n", line.c_str());
}

#if TWINCAM_WITH_GLIB
const char *LevelName(GLogLevelFlags level) {
    if (level & G_LOG_LEVEL_ERROR) return "ERROR";
    if (level & G_LOG_LEVEL_CRITICAL) return "CRITICAL";
    if (level & G_LOG_LEVEL_WARNING) return "WARNING";
    if (level & G_LOG_LEVEL_MESSAGE) return "Message";
    return nullptr;  // info and debug: not wanted
}

#endif

}  // namespace

void Log(const char *format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Write(format, text);
}

void RouteGLibMessages() {
#if TWINCAM_WITH_GLIB
    g_log_set_default_handler(
        [](const gchar *domain, GLogLevelFlags level, const gchar *message, gpointer) {
            const char *name = LevelName(level);
            if (name == nullptr) return;
            const std::string line = std::string(domain != nullptr ? domain : "GLib") + "-" + name +
                                     " **: " + (message != nullptr ? message : "");
            Write(line, line);
        },
        nullptr);
#endif
}

void FlushLog(bool everything) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const auto &[last, held] : g_limit.Flush(LogLimit::Clock::now(), everything)) {
        std::fprintf(stderr, "twincam-serve: %ld more lines like this one held back in the last minute: %.300s\n", held,
                     last.c_str());
    }
}

long LogSuppressed() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_limit.suppressed();
}

}  // namespace twincam::serve
