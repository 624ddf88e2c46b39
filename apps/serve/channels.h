// Every served camera's channel, the one reader that steps them all in
// turn, and the one parser of a camera id in a path.
#ifndef TWINCAM_SERVE_CHANNELS_H
#define TWINCAM_SERVE_CHANNELS_H

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "channel.h"

namespace twincam::serve {

// The camera id a path names: only the digits of a valid id, nothing
// before or after them ("1", not "01x" or "+1" or "99999999999").
std::optional<int> CameraId(std::string_view digits);

class Channels {
public:
    Channels(const std::vector<int> &cameras, const Channel::Settings &settings);
    // A reader stuck in a library call is left behind with the cameras open:
    // closing them would wait for it for ever.
    ~Channels() {
        if (StopReading(std::chrono::seconds(5))) Stop();
        else reader_.detach();
    }

    // Starts every channel (a camera that is not there is served all the same).
    void Start();
    // Starts the reader; it steps every channel in turn until StopReading.
    void Read();
    // Stops the reader within `patience`; false when one camera's call into
    // the library is stuck (the reader then is left behind).
    bool StopReading(Clock::duration patience);
    // Stops every channel's encoders and closes the cameras; false when a close failed.
    bool Stop();

    Channel *Find(int id);
    Channel *Find(std::string_view digits);
    std::vector<Channel *> all();
    std::vector<ChannelFigures> Figures();
    // The camera whose reader has been in one library call longer than limit, or -1.
    int Stuck(Clock::duration limit, Clock::duration *stuckFor);

private:
    std::map<int, std::unique_ptr<Channel>> channels_;
    std::atomic<bool> stop_{false}, finished_{false};
    std::thread reader_;
    bool stopped_ = false;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_CHANNELS_H
