// The fault schedule: counts every platform call and says which ones fail.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "ops.h"
#include "sim_core.h"

namespace twincam::sim {
namespace {

struct Fault {
    twincam_sim_op op;
    uint32_t nth;
    int32_t value;
};

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
    fault->op = OpByKeyword(op.data(), op.size());
    if (fault->op == TWINCAM_SIM_OP_COUNT) {
        *why = "unknown operation '" + op + "'";
        return false;
    }
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
            else if (value == "drop") fault->value = TWINCAM_SIM_READ_DROP;
            else if (value == "hang") fault->value = TWINCAM_SIM_READ_HANG;
            else {
                *why = "'" + item + "': a read fault is fail, short, long, drop or hang";
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
    const std::string text = schedule;
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

struct Schedule {
    std::mutex mutex;
    uint64_t calls[TWINCAM_SIM_OP_COUNT] = {};
    std::vector<Fault> faults;

    Schedule() {
        const char *schedule = std::getenv("TWINCAM_SIM_FAULTS");
        std::string why;
        if (schedule != nullptr && !ParseSchedule(schedule, &faults, &why)) {
            std::fprintf(stderr, "twincam-sim: ignoring TWINCAM_SIM_FAULTS: %s\n", why.c_str());
        }
    }
};

Schedule &TheSchedule() {
    static Schedule schedule;
    return schedule;
}

}  // namespace

bool TakeFault(twincam_sim_op op, int32_t *value) {
    Schedule &s = TheSchedule();
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

void FaultsReset() {
    std::lock_guard<std::mutex> lock(TheSchedule().mutex);
    for (uint64_t &n : TheSchedule().calls) n = 0;
    TheSchedule().faults.clear();
}

}  // namespace twincam::sim

using namespace twincam::sim;

extern "C" {

TWINCAM_SIM_EXPORT uint64_t twincam_sim_call_count(twincam_sim_op op) {
    if (static_cast<unsigned>(op) >= TWINCAM_SIM_OP_COUNT) return 0;
    std::lock_guard<std::mutex> lock(TheSchedule().mutex);
    return TheSchedule().calls[op];
}

TWINCAM_SIM_EXPORT int twincam_sim_fault(twincam_sim_op op, uint32_t nth, int32_t value) {
    if (static_cast<unsigned>(op) >= TWINCAM_SIM_OP_COUNT || kOps[op].keyword == nullptr || nth == 0) return -1;
    std::lock_guard<std::mutex> lock(TheSchedule().mutex);
    TheSchedule().faults.push_back(Fault{op, nth, value});
    return 0;
}

TWINCAM_SIM_EXPORT int twincam_sim_set_faults(const char *schedule, char *err, size_t errlen) {
    std::vector<Fault> parsed;
    std::string why;
    if (schedule == nullptr || !ParseSchedule(schedule, &parsed, &why)) {
        if (err != nullptr && errlen > 0) {
            std::snprintf(err, errlen, "%s", schedule == nullptr ? "no schedule" : why.c_str());
        }
        return -1;
    }
    std::lock_guard<std::mutex> lock(TheSchedule().mutex);
    TheSchedule().faults = std::move(parsed);
    return 0;
}

TWINCAM_SIM_EXPORT void twincam_sim_clear_faults(void) {
    std::lock_guard<std::mutex> lock(TheSchedule().mutex);
    TheSchedule().faults.clear();
}

}  // extern "C"
