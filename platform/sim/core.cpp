// Journal, fault schedule, application log and reset of the stand-ins.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "sim_core.h"

namespace twincam::sim {
namespace {

struct Fault {
    twincam_sim_op op;
    uint32_t nth;
    int32_t value;
};

struct State {
    std::mutex mutex;
    std::array<twincam_sim_call, TWINCAM_SIM_JOURNAL_CAPACITY> journal{};
    size_t journalHead = 0;  // index of the oldest entry
    size_t journalSize = 0;
    std::array<uint64_t, TWINCAM_SIM_OP_COUNT> calls{};
    std::vector<Fault> faults;
    std::vector<twincam_sim_log_record> log = std::vector<twincam_sim_log_record>(TWINCAM_SIM_LOG_CAPACITY);
    size_t logHead = 0;
    size_t logSize = 0;
    int32_t echoLevel = ACL_ERROR;
    twincam_sim_log_hook hook = nullptr;
    void *hookUser = nullptr;

    State();
};

int32_t ParseLogLevel(const char *text) {
    static const char *const kNames[] = {"debug", "info", "warning", "error", "none"};
    for (int32_t i = 0; i <= TWINCAM_SIM_LOG_NONE; ++i) {
        if (std::strcmp(text, kNames[i]) == 0) return i;
    }
    if (text[0] >= '0' && text[0] <= '4' && text[1] == '\0') return text[0] - '0';
    return -1;
}

const char *const kOpNames[] = {"init", "status", "open", "setprop", "read", "close", "malloc", "free"};

bool ParseUnsigned(const std::string &text, uint32_t *out) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseSigned(const std::string &text, int32_t *out) {
    uint32_t magnitude = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!ParseUnsigned(negative ? text.substr(1) : text, &magnitude)) return false;
    const int64_t value = negative ? -static_cast<int64_t>(magnitude) : magnitude;
    if (value < INT32_MIN || value > INT32_MAX) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

// One "OP@N" or "OP@N=VALUE" item; a message says what is wrong with it.
bool ParseFault(const std::string &item, Fault *fault, std::string *why) {
    const size_t at = item.find('@');
    if (at == std::string::npos) {
        *why = "'" + item + "' has no @N";
        return false;
    }
    const std::string op = item.substr(0, at);
    const size_t eq = item.find('=', at);
    const std::string nth = item.substr(at + 1, eq == std::string::npos ? std::string::npos : eq - at - 1);
    const bool hasValue = eq != std::string::npos;
    const std::string value = hasValue ? item.substr(eq + 1) : std::string();
    const auto *name = std::find_if(std::begin(kOpNames), std::end(kOpNames),
                                    [&](const char *n) { return op == n; });
    if (name == std::end(kOpNames)) {
        *why = "unknown operation '" + op + "'";
        return false;
    }
    fault->op = static_cast<twincam_sim_op>(name - std::begin(kOpNames));
    if (!ParseUnsigned(nth, &fault->nth) || fault->nth == 0) {
        *why = "'" + item + "': the call number must be 1 or more";
        return false;
    }
    fault->value = 0;
    switch (fault->op) {
        case TWINCAM_SIM_OP_STATUS:
        case TWINCAM_SIM_OP_MALLOC:
        case TWINCAM_SIM_OP_FREE:
            if (hasValue && ParseSigned(value, &fault->value)) return true;
            if (!hasValue && fault->op != TWINCAM_SIM_OP_STATUS) return true;
            *why = "'" + item + "' needs =" + (fault->op == TWINCAM_SIM_OP_STATUS ? "STATUS" : "CODE");
            return false;
        case TWINCAM_SIM_OP_READ:
            if (!hasValue || value == "fail") return true;
            if (value == "short") fault->value = TWINCAM_SIM_READ_SHORT;
            else if (value == "long") fault->value = TWINCAM_SIM_READ_LONG;
            else {
                *why = "'" + item + "': a read fault is fail, short or long";
                return false;
            }
            return true;
        default:
            if (!hasValue) return true;
            *why = "'" + item + "': " + op + " takes no value";
            return false;
    }
}

bool ParseSchedule(const char *schedule, std::vector<Fault> *faults, std::string *why) {
    std::vector<Fault> parsed;
    std::string text = schedule;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(start, comma - start);
        if (item.empty()) {
            if (text.empty()) break;
            *why = "empty item";
            return false;
        }
        Fault fault{};
        if (!ParseFault(item, &fault, why)) return false;
        parsed.push_back(fault);
        start = comma + 1;
    }
    *faults = std::move(parsed);
    return true;
}

State::State() {
    if (const char *level = std::getenv("TWINCAM_SIM_LOG_LEVEL")) {
        const int32_t parsed = ParseLogLevel(level);
        if (parsed >= 0) echoLevel = parsed;
        else std::fprintf(stderr, "twincam-sim: ignoring TWINCAM_SIM_LOG_LEVEL=%s\n", level);
    }
    if (const char *schedule = std::getenv("TWINCAM_SIM_FAULTS")) {
        std::string why;
        if (!ParseSchedule(schedule, &faults, &why)) {
            std::fprintf(stderr, "twincam-sim: ignoring TWINCAM_SIM_FAULTS: %s\n", why.c_str());
        }
    }
}

State &S() {
    static State state;
    return state;
}

void Copy(char *dst, size_t len, const char *src) {
    std::snprintf(dst, len, "%s", src != nullptr ? src : "(null)");
}

const char *PropertyName(int32_t property) {
    switch (property) {
        case Resolution: return "Resolution";
        case FrameRate: return "FrameRate";
        case Mode: return "Mode";
        default: return nullptr;
    }
}

}  // namespace

bool TakeFault(twincam_sim_op op, int32_t *value) {
    State &s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    const uint64_t n = ++s.calls[op];
    for (auto f = s.faults.begin(); f != s.faults.end(); ++f) {
        if (f->op == op && f->nth == n) {
            *value = f->value;
            // Spent: a long run that keeps scheduling faults keeps a short list.
            s.faults.erase(f);
            return true;
        }
    }
    return false;
}

void Journal(const twincam_sim_call &call) {
    State &s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    const size_t slot = (s.journalHead + s.journalSize) % s.journal.size();
    s.journal[slot] = call;
    if (s.journalSize < s.journal.size()) ++s.journalSize;
    else s.journalHead = (s.journalHead + 1) % s.journal.size();
}

void AppLog(int32_t level, const char *func, const char *file, uint32_t line, const char *fmt,
            va_list args) {
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

    State &s = S();
    twincam_sim_log_hook hook = nullptr;
    void *user = nullptr;
    bool echo = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        const size_t slot = (s.logHead + s.logSize) % s.log.size();
        s.log[slot] = record;
        if (s.logSize < s.log.size()) ++s.logSize;
        else s.logHead = (s.logHead + 1) % s.log.size();
        hook = s.hook;
        user = s.hookUser;
        echo = record.level >= s.echoLevel;
    }
    if (echo) {
        static const char *const kLevels[] = {"DEBUG", "INFO", "WARNING", "ERROR"};
        const char *name = record.level >= 0 && record.level <= 3 ? kLevels[record.level] : "LOG";
        std::fprintf(stderr, "twincam-sim: %s %s:%" PRIu32 " %s: %s\n", name, record.file,
                     record.line, record.func, record.message);
    }
    if (hook != nullptr) hook(&record, user);
}

}  // namespace twincam::sim

using namespace twincam::sim;

extern "C" {

TWINCAM_SIM_EXPORT size_t twincam_sim_journal_size(void) {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().journalSize;
}

TWINCAM_SIM_EXPORT int twincam_sim_journal_get(size_t index, twincam_sim_call *out) {
    State &s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (index >= s.journalSize || out == nullptr) return -1;
    *out = s.journal[(s.journalHead + index) % s.journal.size()];
    return 0;
}

TWINCAM_SIM_EXPORT size_t twincam_sim_journal_format(size_t index, char *buf, size_t len) {
    twincam_sim_call c{};
    if (twincam_sim_journal_get(index, &c) != 0) return 0;
    int n = 0;
    switch (c.op) {
        case TWINCAM_SIM_OP_INIT: n = std::snprintf(buf, len, "MediaLibInit() = %d", c.result); break;
        case TWINCAM_SIM_OP_STATUS:
            n = std::snprintf(buf, len, "QueryCameraStatus(%d) = %d", c.id, c.result);
            break;
        case TWINCAM_SIM_OP_OPEN: n = std::snprintf(buf, len, "OpenCamera(%d) = %d", c.id, c.result); break;
        case TWINCAM_SIM_OP_CLOSE: n = std::snprintf(buf, len, "CloseCamera(%d) = %d", c.id, c.result); break;
        case TWINCAM_SIM_OP_SETPROP: {
            const char *name = PropertyName(c.arg[0]);
            if (name == nullptr) {
                n = std::snprintf(buf, len, "SetCameraProperty(%d, %d, ?) = %d", c.id, c.arg[0], c.result);
            } else if (c.arg[0] == Resolution) {
                n = std::snprintf(buf, len, "SetCameraProperty(%d, %s, %dx%d) = %d", c.id, name, c.arg[1],
                                  c.arg[2], c.result);
            } else {
                n = std::snprintf(buf, len, "SetCameraProperty(%d, %s, %d) = %d", c.id, name, c.arg[1],
                                  c.result);
            }
            break;
        }
        case TWINCAM_SIM_OP_READ:
            n = std::snprintf(buf, len, "ReadFrameFromCamera(%d, #%" PRIu64 ", %d) = %d -> %d", c.id,
                              c.buffer, c.arg[0], c.result, c.arg[1]);
            break;
        case TWINCAM_SIM_OP_MALLOC:
            if (c.result == 0) {
                n = std::snprintf(buf, len, "acldvppMalloc(%" PRIu64 ") = 0 -> #%" PRIu64, c.size, c.buffer);
            } else {
                n = std::snprintf(buf, len, "acldvppMalloc(%" PRIu64 ") = %d", c.size, c.result);
            }
            break;
        case TWINCAM_SIM_OP_FREE:
            if (c.buffer != 0) n = std::snprintf(buf, len, "acldvppFree(#%" PRIu64 ") = %d", c.buffer, c.result);
            else n = std::snprintf(buf, len, "acldvppFree(?) = %d", c.result);
            break;
        case TWINCAM_SIM_OP_LOG: n = std::snprintf(buf, len, "aclAppLog(%d)", c.id); break;
        default: n = std::snprintf(buf, len, "?"); break;
    }
    return n > 0 ? static_cast<size_t>(n) : 0;
}

TWINCAM_SIM_EXPORT void twincam_sim_journal_clear(void) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().journalHead = 0;
    S().journalSize = 0;
}

TWINCAM_SIM_EXPORT uint64_t twincam_sim_call_count(twincam_sim_op op) {
    if (static_cast<unsigned>(op) >= TWINCAM_SIM_OP_COUNT) return 0;
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().calls[op];
}

TWINCAM_SIM_EXPORT size_t twincam_sim_log_size(void) {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().logSize;
}

TWINCAM_SIM_EXPORT int twincam_sim_log_get(size_t index, twincam_sim_log_record *out) {
    State &s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (index >= s.logSize || out == nullptr) return -1;
    *out = s.log[(s.logHead + index) % s.log.size()];
    return 0;
}

TWINCAM_SIM_EXPORT void twincam_sim_log_clear(void) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().logHead = 0;
    S().logSize = 0;
}

TWINCAM_SIM_EXPORT void twincam_sim_set_log_level(int32_t level) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().echoLevel = level;
}

TWINCAM_SIM_EXPORT void twincam_sim_set_log_hook(twincam_sim_log_hook hook, void *user) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().hook = hook;
    S().hookUser = user;
}

TWINCAM_SIM_EXPORT int twincam_sim_fault(twincam_sim_op op, uint32_t nth, int32_t value) {
    if (static_cast<unsigned>(op) > TWINCAM_SIM_OP_FREE || nth == 0) return -1;
    std::lock_guard<std::mutex> lock(S().mutex);
    S().faults.push_back(Fault{op, nth, value});
    return 0;
}

TWINCAM_SIM_EXPORT int twincam_sim_set_faults(const char *schedule, char *err, size_t errlen) {
    std::vector<Fault> parsed;
    std::string why;
    if (schedule == nullptr || !ParseSchedule(schedule, &parsed, &why)) {
        if (err != nullptr && errlen > 0) Copy(err, errlen, schedule == nullptr ? "no schedule" : why.c_str());
        return -1;
    }
    std::lock_guard<std::mutex> lock(S().mutex);
    S().faults = std::move(parsed);
    return 0;
}

TWINCAM_SIM_EXPORT void twincam_sim_clear_faults(void) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().faults.clear();
}

TWINCAM_SIM_EXPORT void twincam_sim_reset(void) {
    {
        State &s = S();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.journalHead = s.journalSize = 0;
        s.logHead = s.logSize = 0;
        s.calls.fill(0);
        s.faults.clear();
    }
    ServiceReset();
    MemoryReset();
}

}  // extern "C"
