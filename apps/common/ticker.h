// A thread that calls a function at a steady interval until stopped; Stop
// (or the destructor) returns once the thread has, at most one call later.
#ifndef TWINCAM_APPS_TICKER_H
#define TWINCAM_APPS_TICKER_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace twincam::common {

class Ticker {
public:
    Ticker() = default;
    ~Ticker() { Stop(); }
    Ticker(const Ticker &) = delete;
    Ticker &operator=(const Ticker &) = delete;

    void Start(std::chrono::steady_clock::duration every, std::function<void()> tick) {
        thread_ = std::thread([this, every, tick = std::move(tick)] {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!wake_.wait_for(lock, every, [this] { return stopping_; })) {
                lock.unlock();
                tick();
                lock.lock();
            }
        });
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace twincam::common

#endif  // TWINCAM_APPS_TICKER_H
