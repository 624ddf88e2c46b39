// The table of platform operations, and the reset that spans every part.
#include "ops.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "sim_core.h"

namespace twincam::sim {
namespace {

int Plain(const char *fn, const twincam_sim_call &c, char *buf, size_t len) {
    return std::snprintf(buf, len, "%s() = %d", fn, c.result);
}

int Status(const char *fn, const twincam_sim_call &c, char *buf, size_t len) {
    return std::snprintf(buf, len, "%s(%d) = %d", fn, c.id, c.result);
}

const char *PropertyName(int32_t property) {
    switch (property) {
        case Resolution: return "Resolution";
        case FrameRate: return "FrameRate";
        case Mode: return "Mode";
        default: return nullptr;
    }
}

int Property(const char *fn, const twincam_sim_call &c, char *buf, size_t len) {
    const char *name = PropertyName(c.arg[0]);
    if (name == nullptr) return std::snprintf(buf, len, "%s(%d, %d, ?) = %d", fn, c.id, c.arg[0], c.result);
    if (c.arg[0] == Resolution) {
        return std::snprintf(buf, len, "%s(%d, %s, %dx%d) = %d", fn, c.id, name, c.arg[1], c.arg[2], c.result);
    }
    return std::snprintf(buf, len, "%s(%d, %s, %d) = %d", fn, c.id, name, c.arg[1], c.result);
}

int Read(const char *fn, const twincam_sim_call &c, char *buf, size_t len) {
    return std::snprintf(buf, len, "%s(%d, #%" PRIu64 ", %d) = %d -> %d", fn, c.id, c.buffer, c.arg[0], c.result,
                         c.arg[1]);
}

int Malloc(const char *fn, const twincam_sim_call &c, char *buf, size_t len) {
    if (c.result != 0) return std::snprintf(buf, len, "%s(%" PRIu64 ") = %d", fn, c.size, c.result);
    return std::snprintf(buf, len, "%s(%" PRIu64 ") = 0 -> #%" PRIu64, fn, c.size, c.buffer);
}

int Free(const char *fn, const twincam_sim_call &c, char *buf, size_t len) {
    if (c.buffer == 0) return std::snprintf(buf, len, "%s(?) = %d", fn, c.result);
    return std::snprintf(buf, len, "%s(#%" PRIu64 ") = %d", fn, c.buffer, c.result);
}

int Log(const char *fn, const twincam_sim_call &c, char *buf, size_t len) {
    return std::snprintf(buf, len, "%s(%d)", fn, c.id);
}

}  // namespace

const OpInfo kOps[TWINCAM_SIM_OP_COUNT] = {
    {"MediaLibInit", "init", Plain},
    {"QueryCameraStatus", "status", Status},
    {"OpenCamera", "open", Status},
    {"SetCameraProperty", "setprop", Property},
    {"ReadFrameFromCamera", "read", Read},
    {"CloseCamera", "close", Status},
    {"acldvppMalloc", "malloc", Malloc},
    {"acldvppFree", "free", Free},
    {"aclAppLog", nullptr, Log},
};

namespace {
std::atomic<size_t> g_inFlight{0}, g_peakInFlight{0};
}  // namespace

CallInFlight::CallInFlight() {
    const size_t now = g_inFlight.fetch_add(1) + 1;
    size_t peak = g_peakInFlight.load();
    while (now > peak && !g_peakInFlight.compare_exchange_weak(peak, now)) {
    }
}

CallInFlight::~CallInFlight() { g_inFlight.fetch_sub(1); }

size_t PeakCallsInFlight() { return g_peakInFlight.load(); }

void CallsInFlightReset() { g_peakInFlight.store(g_inFlight.load()); }

twincam_sim_op OpByKeyword(const char *keyword, size_t length) {
    for (int i = 0; i < TWINCAM_SIM_OP_COUNT; ++i) {
        const char *k = kOps[i].keyword;
        if (k != nullptr && std::strlen(k) == length && std::strncmp(k, keyword, length) == 0) {
            return static_cast<twincam_sim_op>(i);
        }
    }
    return TWINCAM_SIM_OP_COUNT;
}

}  // namespace twincam::sim

extern "C" TWINCAM_SIM_EXPORT void twincam_sim_reset(void) {
    using namespace twincam::sim;
    JournalReset();
    LogReset();
    FaultsReset();
    ServiceReset();
    MemoryReset();
    CallsInFlightReset();
}

extern "C" TWINCAM_SIM_EXPORT size_t twincam_sim_peak_calls_in_flight(void) { return twincam::sim::PeakCallsInFlight(); }
