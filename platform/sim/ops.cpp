// The table of platform operations, and the reset that spans every part.
#include "ops.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "sim_core.h"

namespace twincam::sim {
namespace {

int Status(const twincam_sim_call &c, char *buf, size_t len, const char *name) {
    return std::snprintf(buf, len, "%s(%d) = %d", name, c.id, c.result);
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

const OpInfo kOps[TWINCAM_SIM_OP_COUNT] = {
    {"MediaLibInit", "init",
     [](const twincam_sim_call &c, char *buf, size_t len) {
         return std::snprintf(buf, len, "MediaLibInit() = %d", c.result);
     }},
    {"QueryCameraStatus", "status",
     [](const twincam_sim_call &c, char *buf, size_t len) { return Status(c, buf, len, "QueryCameraStatus"); }},
    {"OpenCamera", "open",
     [](const twincam_sim_call &c, char *buf, size_t len) { return Status(c, buf, len, "OpenCamera"); }},
    {"SetCameraProperty", "setprop",
     [](const twincam_sim_call &c, char *buf, size_t len) {
         const char *name = PropertyName(c.arg[0]);
         if (name == nullptr) {
             return std::snprintf(buf, len, "SetCameraProperty(%d, %d, ?) = %d", c.id, c.arg[0], c.result);
         }
         if (c.arg[0] == Resolution) {
             return std::snprintf(buf, len, "SetCameraProperty(%d, %s, %dx%d) = %d", c.id, name, c.arg[1],
                                  c.arg[2], c.result);
         }
         return std::snprintf(buf, len, "SetCameraProperty(%d, %s, %d) = %d", c.id, name, c.arg[1], c.result);
     }},
    {"ReadFrameFromCamera", "read",
     [](const twincam_sim_call &c, char *buf, size_t len) {
         return std::snprintf(buf, len, "ReadFrameFromCamera(%d, #%" PRIu64 ", %d) = %d -> %d", c.id, c.buffer,
                              c.arg[0], c.result, c.arg[1]);
     }},
    {"CloseCamera", "close",
     [](const twincam_sim_call &c, char *buf, size_t len) { return Status(c, buf, len, "CloseCamera"); }},
    {"acldvppMalloc", "malloc",
     [](const twincam_sim_call &c, char *buf, size_t len) {
         if (c.result != 0) return std::snprintf(buf, len, "acldvppMalloc(%" PRIu64 ") = %d", c.size, c.result);
         return std::snprintf(buf, len, "acldvppMalloc(%" PRIu64 ") = 0 -> #%" PRIu64, c.size, c.buffer);
     }},
    {"acldvppFree", "free",
     [](const twincam_sim_call &c, char *buf, size_t len) {
         if (c.buffer == 0) return std::snprintf(buf, len, "acldvppFree(?) = %d", c.result);
         return std::snprintf(buf, len, "acldvppFree(#%" PRIu64 ") = %d", c.buffer, c.result);
     }},
    {"aclAppLog", nullptr,
     [](const twincam_sim_call &c, char *buf, size_t len) { return std::snprintf(buf, len, "aclAppLog(%d)", c.id); }},
};

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
}
