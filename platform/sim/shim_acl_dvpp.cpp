// libacl_dvpp.so stand-in: dvpp memory.
#include "sim_core.h"

extern "C" {
TWINCAM_SIM_EXPORT int32_t acldvppMalloc(void **devPtr, uint64_t size) {
    const twincam::sim::CallInFlight call;
    return twincam::sim::DvppMalloc(devPtr, size);
}
TWINCAM_SIM_EXPORT int32_t acldvppFree(void *devPtr) { return twincam::sim::DvppFree(devPtr); }
}
