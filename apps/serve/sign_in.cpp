#include "sign_in.h"

#include <cstdio>

#include "log.h"

namespace twincam::serve {
namespace {
// Addresses remembered at once; past it the oldest windows go first.
constexpr size_t kMaxAddresses = 4096;
}  // namespace

SignIn::SignIn(const Htpasswd &users) : users_(users), checker_([this] { Run(); }) {}

SignIn::~SignIn() {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    checker_.join();
}

bool SignIn::Throttled(const std::string &address, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(addressesMutex_);
    const auto it = addresses_.find(address);
    if (it == addresses_.end()) return false;
    if (now - it->second.windowStart >= kWindow) {
        addresses_.erase(it);
        return false;
    }
    return it->second.failures >= kMaxFailures;
}

SignIn::Result SignIn::Quick(const std::string &address, const std::string &user, const std::string &password) {
    if (users_.Known(user, password)) return Result::kPassed;
    if (!Throttled(address, Clock::now())) return Result::kFailed;
    ++throttled_;
    return Result::kThrottled;
}

// A check's outcome, counted against the address when it failed.
SignIn::Result SignIn::Checked(const std::string &address, bool right) {
    if (right) return Result::kPassed;
    ++failures_;
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(addressesMutex_);
    if (addresses_.size() >= kMaxAddresses && addresses_.count(address) == 0) {
        auto oldest = addresses_.begin();
        for (auto it = addresses_.begin(); it != addresses_.end(); ++it) {
            if (it->second.windowStart < oldest->second.windowStart) oldest = it;
        }
        addresses_.erase(oldest);
    }
    Address &seen = addresses_[address];
    if (seen.failures == 0 || now - seen.windowStart >= kWindow) seen = Address{now, 0};
    if (++seen.failures == kMaxFailures) {
        Log("%d failed sign-ins from %s within a minute: refusing it until %lld s "
            "from now",
            kMaxFailures, address.c_str(),
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::seconds>(seen.windowStart + kWindow - now).count()));
    }
    return Result::kFailed;
}

SignIn::Result SignIn::Check(const std::string &address, const std::string &user, const std::string &password) {
    const Result quick = Quick(address, user, password);
    return quick != Result::kFailed ? quick : Checked(address, users_.Check(user, password));
}

void SignIn::CheckLater(const std::string &address, std::string user, std::string password,
                        std::function<void(Result)> done) {
    if (const Result quick = Quick(address, user, password); quick != Result::kFailed) return done(quick);
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (queue_.size() < kMaxWaiting && !stopping_) {
            queue_.push_back([this, address, user = std::move(user), password = std::move(password), done] {
                done(Checked(address, users_.Check(user, password)));
            });
            wake_.notify_one();
            return;
        }
    }
    done(Result::kBusy);
}

// The checker: one password check at a time, in the order they came.
void SignIn::Run() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        std::function<void()> check = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        check();
        lock.lock();
    }
}

}  // namespace twincam::serve
