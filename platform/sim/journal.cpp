// The journal: the most recent platform calls, oldest first.
#include <mutex>

#include "ops.h"
#include "ring.h"
#include "sim_core.h"

namespace twincam::sim {
namespace {

struct Calls {
    std::mutex mutex;
    Ring<twincam_sim_call> ring{TWINCAM_SIM_JOURNAL_CAPACITY};
};

Calls &TheJournal() {
    static Calls calls;
    return calls;
}

}  // namespace

void Journal(const twincam_sim_call &call) {
    std::lock_guard<std::mutex> lock(TheJournal().mutex);
    TheJournal().ring.Push(call);
}

void JournalReset() {
    std::lock_guard<std::mutex> lock(TheJournal().mutex);
    TheJournal().ring.Clear();
}

}  // namespace twincam::sim

using namespace twincam::sim;

extern "C" {

TWINCAM_SIM_EXPORT size_t twincam_sim_journal_size(void) {
    std::lock_guard<std::mutex> lock(TheJournal().mutex);
    return TheJournal().ring.Size();
}

TWINCAM_SIM_EXPORT int twincam_sim_journal_get(size_t index, twincam_sim_call *out) {
    std::lock_guard<std::mutex> lock(TheJournal().mutex);
    return TheJournal().ring.Get(index, out) ? 0 : -1;
}

TWINCAM_SIM_EXPORT size_t twincam_sim_journal_format(size_t index, char *buf, size_t len) {
    twincam_sim_call c{};
    if (twincam_sim_journal_get(index, &c) != 0) return 0;
    const int n = static_cast<unsigned>(c.op) < TWINCAM_SIM_OP_COUNT ? kOps[c.op].format(kOps[c.op].function, c, buf, len)
                                                                    : std::snprintf(buf, len, "?");
    return n > 0 ? static_cast<size_t>(n) : 0;
}

TWINCAM_SIM_EXPORT void twincam_sim_journal_clear(void) { JournalReset(); }

}  // extern "C"
