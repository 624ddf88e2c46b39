// libmedia_mini.so stand-in: the camera service's six operations.
#include "sim_core.h"

namespace sim = twincam::sim;

extern "C" {
TWINCAM_SIM_EXPORT int32_t MediaLibInit(void) {
    const sim::CallInFlight call;
    return sim::ServiceInit();
}
TWINCAM_SIM_EXPORT int32_t QueryCameraStatus(int32_t id) {
    const sim::CallInFlight call;
    return sim::ServiceStatus(id);
}
TWINCAM_SIM_EXPORT int32_t OpenCamera(int32_t id) {
    const sim::CallInFlight call;
    return sim::ServiceOpen(id);
}
TWINCAM_SIM_EXPORT int32_t SetCameraProperty(int32_t id, int32_t property, void *value) {
    const sim::CallInFlight call;
    return sim::ServiceSetProperty(id, property, value);
}
TWINCAM_SIM_EXPORT int32_t ReadFrameFromCamera(int32_t id, void *data, int32_t *size) {
    const sim::CallInFlight call;
    return sim::ServiceRead(id, data, size);
}
TWINCAM_SIM_EXPORT int32_t CloseCamera(int32_t id) {
    const sim::CallInFlight call;
    return sim::ServiceClose(id);
}
}
