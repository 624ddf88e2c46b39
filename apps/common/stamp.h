// Frame sequence numbers and the frames missed between them. The simulated
// cameras stamp each frame with its camera and sequence number; on hardware
// frames carry no stamp and the count of reads stands in for the sequence.
#ifndef TWINCAM_APPS_STAMP_H
#define TWINCAM_APPS_STAMP_H

#include <cstdint>

#if TWINCAM_WITH_SIM
#include "twincam/sim/twincam_sim.h"
#endif

namespace twincam::common {

// The stamp of an NV12 frame, where its camera stamps one.
inline bool DecodeStamp([[maybe_unused]] const void *luma, [[maybe_unused]] int width, [[maybe_unused]] int height,
                        [[maybe_unused]] int *camera, [[maybe_unused]] uint32_t *sequence) {
#if TWINCAM_WITH_SIM
    twincam_sim_stamp stamp{};
    if (twincam_sim_stamp_decode(luma, width, height, &stamp) != 0) return false;
    *camera = stamp.camera;
    *sequence = stamp.sequence;
    return true;
#else
    return false;
#endif
}

// One camera's frames in the order they were read.
class StampTracker {
public:
    struct Seen {
        long long sequence = 0;  // the stamp's, or the count of reads before this one
        long long missed = 0;    // frames skipped since the one before
        bool stamped = false;
        bool otherCamera = false;  // stamped by another camera than the one read
        bool inOrder = true;       // after the previous frame's sequence
    };

    explicit StampTracker(int camera) : camera_(camera) {}

    Seen Track(const void *luma, int width, int height) {
        Seen seen;
        int camera = camera_;
        uint32_t sequence = 0;
        seen.stamped = DecodeStamp(luma, width, height, &camera, &sequence);
        seen.sequence = seen.stamped ? static_cast<long long>(sequence) : reads_;
        seen.otherCamera = camera != camera_;
        if (last_ >= 0) {
            seen.inOrder = seen.sequence > last_;
            if (seen.sequence > last_ + 1) seen.missed = seen.sequence - last_ - 1;
        }
        last_ = seen.sequence;
        ++reads_;
        missed_ += seen.missed;
        stampless_ += seen.stamped ? 0 : 1;
        wrongCamera_ += seen.otherCamera ? 1 : 0;
        return seen;
    }
    // The camera was opened again: the service counts its frames from 0.
    void Restart() { last_ = -1; }

    long long missed() const { return missed_; }
    long stampless() const { return stampless_; }
    long wrongCamera() const { return wrongCamera_; }

private:
    int camera_;
    long long last_ = -1, reads_ = 0, missed_ = 0;
    long stampless_ = 0, wrongCamera_ = 0;
};

}  // namespace twincam::common

#endif  // TWINCAM_APPS_STAMP_H
