// Built where GStreamer's app library was not found: no H.264 at all, and
// nothing ever attaches.
#include "h264_encoder.h"

namespace twincam::serve {

H264Encoder::H264Encoder(int camera, Settings settings) : camera_(camera), settings_(std::move(settings)) {}
H264Encoder::~H264Encoder() = default;
int H264Encoder::Attach(Consumer) { return 0; }
void H264Encoder::Detach(int) {}
void H264Encoder::KeyFrame() {}
void H264Encoder::Push(const common::FramePtr &) {}
void H264Encoder::Stop() {}

}  // namespace twincam::serve
