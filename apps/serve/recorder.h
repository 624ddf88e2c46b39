// Recording in the server: every served camera into DIR/cam<ID>/ as
// fragmented MP4 segments named by their first frame's UTC time, from the
// camera's one H.264 encoder (no second encoder), each frame at its read
// time. A segment starts at a key frame and the next one at the next key
// frame past its length, so no frame is lost or repeated between them; a
// camera outage ends the segment and the camera's return starts a new one.
// Once a second the oldest segments go past --record-max-age or
// --record-max-bytes, and, whatever the options, while the disk is under 5%
// free or after a write failed for space; the segment being written stays.
#ifndef TWINCAM_SERVE_RECORDER_H
#define TWINCAM_SERVE_RECORDER_H

#include <memory>
#include <string>
#include <vector>

#include "channels.h"
#include "front_end.h"
#include "recordings.h"
#include "ticker.h"

namespace twincam::serve {

class Recorder : public FrontEnd {
public:
    struct Settings {
        std::string dir;
        std::string encoder;  // the channels' encoder, checked at start
        int segmentSeconds = 60;
        double maxAgeSeconds = 0;  // 0: no limit
        long long maxBytes = 0;    // 0: no limit
    };

    Recorder(Channels &channels, Settings settings);
    ~Recorder() override;

    // Makes the folders and attaches to every channel; false with *error
    // when a folder cannot be made or written.
    bool Start(std::string *error);
    void Stop() override;
    const char *name() const override { return "recorder"; }
    const Recordings &recordings() const { return recordings_; }

    struct Track;  // one camera's recording

private:
    void Housekeep();
    void Retain(bool spaceShort);

    Channels &channels_;
    const Settings settings_;
    Recordings recordings_;
    std::vector<std::unique_ptr<Track>> tracks_;
    common::Ticker housekeeper_;
    bool stopped_ = false;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_RECORDER_H
