// The journal: the most recent platform calls, oldest first.
#include <array>
#include <mutex>

#include "ops.h"
#include "sim_core.h"

namespace twincam::sim {
namespace {

struct Ring {
    std::mutex mutex;
    std::array<twincam_sim_call, TWINCAM_SIM_JOURNAL_CAPACITY> calls{};
    size_t head = 0;  // index of the oldest entry
    size_t size = 0;
};

Ring &R() {
    static Ring ring;
    return ring;
}

}  // namespace

void Journal(const twincam_sim_call &call) {
    Ring &r = R();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.calls[(r.head + r.size) % r.calls.size()] = call;
    if (r.size < r.calls.size()) ++r.size;
    else r.head = (r.head + 1) % r.calls.size();
}

void JournalReset() {
    std::lock_guard<std::mutex> lock(R().mutex);
    R().head = R().size = 0;
}

}  // namespace twincam::sim

using namespace twincam::sim;

extern "C" {

TWINCAM_SIM_EXPORT size_t twincam_sim_journal_size(void) {
    std::lock_guard<std::mutex> lock(R().mutex);
    return R().size;
}

TWINCAM_SIM_EXPORT int twincam_sim_journal_get(size_t index, twincam_sim_call *out) {
    Ring &r = R();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (index >= r.size || out == nullptr) return -1;
    *out = r.calls[(r.head + index) % r.calls.size()];
    return 0;
}

TWINCAM_SIM_EXPORT size_t twincam_sim_journal_format(size_t index, char *buf, size_t len) {
    twincam_sim_call c{};
    if (twincam_sim_journal_get(index, &c) != 0) return 0;
    const int n = static_cast<unsigned>(c.op) < TWINCAM_SIM_OP_COUNT ? kOps[c.op].format(c, buf, len)
                                                                    : std::snprintf(buf, len, "?");
    return n > 0 ? static_cast<size_t>(n) : 0;
}

TWINCAM_SIM_EXPORT void twincam_sim_journal_clear(void) { JournalReset(); }

}  // extern "C"
