// Shared state of the stand-in platform. The three stand-in libraries are
// thin shims over these functions, so one journal, one fault schedule and
// one allocator serve them all.
#ifndef TWINCAM_SIM_CORE_H
#define TWINCAM_SIM_CORE_H

#include <cstdarg>
#include <cstdint>

#include "twincam/platform/acl_runtime.h"
#include "twincam/platform/camera_service.h"
#include "twincam/sim/twincam_sim.h"

#define TWINCAM_SIM_EXPORT __attribute__((visibility("default")))

namespace twincam::sim {

// Marks one call of the library's into the platform as in progress for its
// lifetime, so the stand-ins can tell when two overlap (ops.cpp). Frees
// are left out: a frame's last holder frees it on its own thread.
class TWINCAM_SIM_EXPORT CallInFlight {
public:
    CallInFlight();
    ~CallInFlight();
    CallInFlight(const CallInFlight &) = delete;
    CallInFlight &operator=(const CallInFlight &) = delete;
};
size_t PeakCallsInFlight();
void CallsInFlightReset();

// Counts one call of op; true (with the scheduled value) when a fault is
// aimed at it (faults.cpp).
bool TakeFault(twincam_sim_op op, int32_t *value);
void FaultsReset();
// Appends one call to the journal (journal.cpp).
void Journal(const twincam_sim_call &call);
void JournalReset();

TWINCAM_SIM_EXPORT int32_t ServiceInit();
TWINCAM_SIM_EXPORT int32_t ServiceStatus(int32_t id);
TWINCAM_SIM_EXPORT int32_t ServiceOpen(int32_t id);
TWINCAM_SIM_EXPORT int32_t ServiceSetProperty(int32_t id, int32_t property, void *value);
TWINCAM_SIM_EXPORT int32_t ServiceRead(int32_t id, void *data, int32_t *size);
TWINCAM_SIM_EXPORT int32_t ServiceClose(int32_t id);
void ServiceReset();

TWINCAM_SIM_EXPORT void AppLog(int32_t level, const char *func, const char *file, uint32_t line,
                               const char *fmt, va_list args);
void LogReset();
TWINCAM_SIM_EXPORT int32_t DvppMalloc(void **ptr, uint64_t size);
TWINCAM_SIM_EXPORT int32_t DvppFree(void *ptr);
// Allocation number of a live buffer, 0 for any other pointer.
uint64_t BufferNumber(const void *ptr);
void MemoryReset();

}  // namespace twincam::sim

#endif  // TWINCAM_SIM_CORE_H
