// Built where GStreamer was not found: --record says so at start.
#include "recorder.h"

namespace twincam::serve {

struct Recorder::Track {};

Recorder::Recorder(Channels &channels, Settings settings)
    : channels_(channels), settings_(std::move(settings)), recordings_(settings_.dir, {}) {}
Recorder::~Recorder() = default;

bool Recorder::Start(std::string *error) {
    *error = "--record: built without GStreamer (install libgstreamer-plugins-base1.0-dev and build again)";
    return false;
}

void Recorder::Stop() {}

}  // namespace twincam::serve
