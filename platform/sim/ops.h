// The platform operations as the stand-ins know them: one table gives each
// its platform name, its keyword in a fault schedule and its journal line.
#ifndef TWINCAM_SIM_OPS_H
#define TWINCAM_SIM_OPS_H

#include <cstddef>

#include "twincam/sim/twincam_sim.h"

namespace twincam::sim {

struct OpInfo {
    const char *function;  // the platform's name for it
    const char *keyword;   // in a fault schedule; nullptr where it cannot fail
    // Renders a journaled call of `function` as one line; returns what
    // snprintf returns.
    int (*format)(const char *function, const twincam_sim_call &call, char *buf, size_t len);
};

// Indexed by twincam_sim_op.
extern const OpInfo kOps[TWINCAM_SIM_OP_COUNT];

// The operation a schedule keyword names, or TWINCAM_SIM_OP_COUNT.
twincam_sim_op OpByKeyword(const char *keyword, size_t length);

}  // namespace twincam::sim

#endif  // TWINCAM_SIM_OPS_H
