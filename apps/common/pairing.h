// Two cameras read as a stereo pair: frames matched by capture time (the
// moment a read returned). The reader reads one frame of each; while they
// are further apart than the bound, the older is dropped (counted
// unmatched) and its camera read again, until a pair matches or too many
// tries in a row have failed.
#ifndef TWINCAM_APPS_PAIRING_H
#define TWINCAM_APPS_PAIRING_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "stats.h"

namespace twincam::common {

class PairMatcher {
public:
    enum class Step { kMatched, kDropFirst, kDropSecond, kGiveUp };

    // tries: frames dropped in a row before giving up.
    explicit PairMatcher(int64_t maxSkewNs, int tries = 8) : maxSkewNs_(maxSkewNs), tries_(tries) {}

    // The capture times of the first and the second camera's frames: what to do with them.
    Step Offer(int64_t first, int64_t second) {
        lastSkew_ = second - first;
        if (std::llabs(lastSkew_) <= maxSkewNs_) {
            ++pairs_;
            inARow_ = 0;
            skewsMs_.Add(static_cast<double>(std::llabs(lastSkew_)) / 1e6);
            return Step::kMatched;
        }
        if (++inARow_ > tries_) return Step::kGiveUp;
        ++unmatched_;
        return lastSkew_ > 0 ? Step::kDropFirst : Step::kDropSecond;
    }

    // Why the reader gave up, for its error.
    std::string GiveUpReason() const {
        return "no pair within " + Ms(maxSkewNs_) + " ms after " + std::to_string(tries_) +
               " unmatched frames in a row (last skew " + Ms(lastSkew_) + " ms)";
    }

    long pairs() const { return pairs_; }
    long unmatched() const { return unmatched_; }
    int64_t maxSkewNs() const { return maxSkewNs_; }
    // How far apart the frames of the matched pairs were, in milliseconds.
    Spread skewMs() const { return skewsMs_.Summary(); }

private:
    static std::string Ms(int64_t ns) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(ns) / 1e6);
        return text;
    }

    int64_t maxSkewNs_;
    int tries_;
    int inARow_ = 0;
    long pairs_ = 0, unmatched_ = 0;
    int64_t lastSkew_ = 0;
    RecentValues skewsMs_{100000};
};

// Reads matched pairs through read(side) (side 0 or 1: a frame, or an empty
// one on failure) and time(frame) (its capture time in ns). A read's time is
// its capture time only if the read waited for a fresh frame: a camera read
// late returns the newest frame it holds, taken earlier. So each camera is
// first read twice (the first read takes what it holds), and from then on
// the camera whose last frame is older, whose next one falls due first, is
// read first: every read then waits for its frame. drop(frame) is given
// every frame read that goes unpaired, before it is let go.
struct IgnoreDrop {
    template <typename Frame>
    void operator()(Frame &&) const {}
};

template <typename Frame, typename Read, typename Time, typename Drop = IgnoreDrop>
class PairReader {
public:
    PairReader(int64_t maxSkewNs, Read read, Time time, Drop drop = Drop())
        : matcher_(maxSkewNs), read_(read), time_(time), drop_(drop) {}

    // A matched pair, or nothing with *error saying why.
    std::optional<std::pair<Frame, Frame>> Next(std::string *error) {
        Frame frames[2];
        for (const int side : Order()) {
            if (!ReadSide(side, frames)) return Failed(error, "reading camera " + std::to_string(side) + " failed");
        }
        for (;;) {
            switch (matcher_.Offer(last_[0], last_[1])) {
                case PairMatcher::Step::kMatched:
                    if (primingDrops_ < 0) primingDrops_ = matcher_.unmatched();
                    return std::make_pair(std::move(frames[0]), std::move(frames[1]));
                case PairMatcher::Step::kGiveUp:
                    return Failed(error, matcher_.GiveUpReason());
                case PairMatcher::Step::kDropFirst:
                case PairMatcher::Step::kDropSecond: {
                    const int side = last_[0] <= last_[1] ? 0 : 1;
                    if (!ReadSide(side, frames)) return Failed(error, "reading camera " + std::to_string(side) + " failed");
                }
            }
        }
    }
    const PairMatcher &matcher() const { return matcher_; }
    // Frames dropped for want of a partner, but for those that only brought
    // the cameras' reads in step before the first pair.
    long unmatched() const { return matcher_.unmatched() - std::max(0L, primingDrops_); }

private:
    std::vector<int> Order() {
        if (!primed_) {
            primed_ = true;
            return {0, 0, 1, 1};
        }
        return last_[0] <= last_[1] ? std::vector<int>{0, 1} : std::vector<int>{1, 0};
    }
    bool ReadSide(int side, Frame *frames) {
        if (frames[side]) drop_(std::move(frames[side]));
        frames[side] = read_(side);
        if (!frames[side]) return false;
        last_[side] = time_(frames[side]);
        return true;
    }
    std::optional<std::pair<Frame, Frame>> Failed(std::string *error, std::string why) {
        *error = std::move(why);
        return std::nullopt;
    }

    PairMatcher matcher_;
    Read read_;
    Time time_;
    Drop drop_;
    bool primed_ = false;
    long primingDrops_ = -1;
    int64_t last_[2] = {0, 0};
};

// Half the frame period at fps: the default bound, which a frame's true
// partner is always within and the frames either side of it are not.
inline int64_t HalfPeriodNs(int fps) { return 500000000LL / fps; }

}  // namespace twincam::common

#endif  // TWINCAM_APPS_PAIRING_H
