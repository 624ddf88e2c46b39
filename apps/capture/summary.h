// What twincam-capture tells the user: a progress bar while it reads, and
// per camera what was read, written, missed and dropped, and how fast.
#ifndef TWINCAM_CAPTURE_SUMMARY_H
#define TWINCAM_CAPTURE_SUMMARY_H

#include <deque>

#include "capture_options.h"
#include "camera_link.h"
#include "stats.h"
#include "writer_pool.h"

namespace twincam::capture {

using Readers = std::deque<common::CameraLink>;

// What a --pair run matched.
struct PairFigures {
    long pairs = 0;
    long unmatched = 0;  // frames read and left unpaired
    common::Spread skewMs;
};

// "[####....] done/total frames" over itself on stderr.
void Progress(long done, long total);
void PrintSummary(const Options &opt, const Readers &cameras, const WriterPool &writers, double seconds,
                  const PairFigures *pairs);

}  // namespace twincam::capture

#endif  // TWINCAM_CAPTURE_SUMMARY_H
