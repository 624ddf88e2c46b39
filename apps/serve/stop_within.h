// Stopping within a bound: steps that may hang (a front end's stop waiting
// on a thread that never returns) run on a thread of their own, and the
// caller waits only until a deadline.
#ifndef TWINCAM_SERVE_STOP_WITHIN_H
#define TWINCAM_SERVE_STOP_WITHIN_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "frame.h"

namespace twincam::serve {

using common::Clock;

struct Step {
    std::string name;
    std::function<void()> run;
};

// Runs the steps in turn until they are done or the deadline passes: the
// name of the step still running then (the thread is left to it, and the
// process is expected to exit), or "" when all ended.
std::string RunWithin(std::vector<Step> steps, Clock::time_point deadline);

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_STOP_WITHIN_H
