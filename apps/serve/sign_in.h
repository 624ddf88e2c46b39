// Sign-in for every protocol: the users of --auth-file, and failures
// throttled per client address. After kMaxFailures failures from one
// address within a minute, that address is refused without a password
// check until its minute is over; credentials that passed before, and
// other addresses, are not affected. Password checks (bcrypt, milliseconds
// each) can run on a thread of their own, off the threads that serve streams.
#ifndef TWINCAM_SERVE_SIGN_IN_H
#define TWINCAM_SERVE_SIGN_IN_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "htpasswd.h"

namespace twincam::serve {

class SignIn {
public:
    enum class Result { kPassed, kFailed, kThrottled, kBusy };
    using Clock = std::chrono::steady_clock;
    static constexpr int kMaxFailures = 10;
    static constexpr std::chrono::seconds kWindow{60};
    static constexpr size_t kMaxWaiting = 64;  // checks queued for the checker; more are kBusy

    explicit SignIn(const Htpasswd &users);
    ~SignIn();
    SignIn(const SignIn &) = delete;
    SignIn &operator=(const SignIn &) = delete;

    // What can be said without a password check: passed before, or the
    // address is throttled; kFailed when a check is needed.
    Result Quick(const std::string &address, const std::string &user, const std::string &password);
    // The whole answer, checking on the caller's thread where needed.
    Result Check(const std::string &address, const std::string &user, const std::string &password);
    // The whole answer; a password check runs on the checker's thread, and
    // done(result) is called there (or here, when no check is needed).
    void CheckLater(const std::string &address, std::string user, std::string password,
                    std::function<void(Result)> done);

    long failures() const { return failures_.load(); }
    long throttled() const { return throttled_.load(); }

private:
    struct Address {
        Clock::time_point windowStart;
        int failures = 0;
    };
    Result Checked(const std::string &address, bool right);
    bool Throttled(const std::string &address, Clock::time_point now);
    void Run();

    const Htpasswd &users_;
    std::atomic<long> failures_{0}, throttled_{0};
    std::mutex addressesMutex_;
    std::map<std::string, Address> addresses_;
    std::mutex queueMutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread checker_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_SIGN_IN_H
