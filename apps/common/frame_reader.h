// One camera as the programs read it: opened and read through the library
// under the process's library lock, each frame handed over in its dvpp
// buffer with its sequence number, the frames missed before it and its
// read time.
#ifndef TWINCAM_APPS_FRAME_READER_H
#define TWINCAM_APPS_FRAME_READER_H

#include <atomic>
#include <vector>

#include "frame.h"
#include "stamp.h"

namespace twincam::common {

class FrameReader {
public:
    // keepLatencies: remember every read's latency, for a bounded run's summary.
    FrameReader(int camera, bool keepLatencies);
    ~FrameReader();
    FrameReader(const FrameReader &) = delete;
    FrameReader &operator=(const FrameReader &) = delete;
    int camera() const { return camera_; }

    // False when the library refused; its report says why.
    bool Open(int fps, int width, int height);
    bool Close();
    // One frame; nullptr when the library refused. pair: the stereo pair
    // it is read for, if any.
    FramePtr Read(long pair = -1);
    // The consumer took the last frame read: the next gets the next index.
    void HandedOn() { ++handedOn_; }

    long read() const { return read_; }
    long long bytes() const { return bytes_; }
    const StampTracker &stamps() const { return stamps_; }
    const std::vector<double> &latencyMs() const { return latencyMs_; }
    // How long the call into the library now in progress has taken (zero
    // when none is): from any thread, so a watchdog can tell a wedged one.
    Clock::duration InCallFor(Clock::time_point now) const;
    // The camera was opened again: its frames are counted from 0 again.
    void Reopened() { stamps_.Restart(); }

private:
    int camera_;
    bool keepLatencies_;
    bool open_ = false;
    long read_ = 0, handedOn_ = 0;
    long long bytes_ = 0;
    StampTracker stamps_;
    std::vector<double> latencyMs_;
    std::atomic<Clock::rep> callSince_{0};  // when the call in progress began; 0 for none
    template <typename Call>
    auto InCall(Call &&call);
};

}  // namespace twincam::common

#endif  // TWINCAM_APPS_FRAME_READER_H
