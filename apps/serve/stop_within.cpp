#include "stop_within.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace twincam::serve {

std::string RunWithin(std::vector<Step> steps, Clock::time_point deadline) {
    // Shared with the thread, which may outlive this call.
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<Step> steps;
        size_t at = 0;
    };
    auto state = std::make_shared<State>();
    state->steps = std::move(steps);
    std::thread runner([state] {
        for (;;) {
            std::function<void()> run;
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                if (state->at == state->steps.size()) break;
                run = state->steps[state->at].run;
            }
            run();
            std::lock_guard<std::mutex> lock(state->mutex);
            ++state->at;
            state->changed.notify_all();
        }
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->changed.wait_until(lock, deadline, [&] { return state->at == state->steps.size(); })) {
        lock.unlock();
        runner.join();
        return "";
    }
    runner.detach();
    return state->steps[state->at].name;
}

}  // namespace twincam::serve
