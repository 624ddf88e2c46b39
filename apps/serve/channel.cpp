#include "channel.h"

namespace twincam::serve {

Channel::Channel(int camera, const Settings &settings)
    : source_(camera, settings.camera), jpeg_(camera, settings.quality), h264_(camera, settings.h264) {
    source_.Subscribe({[this](const common::FramePtr &frame) {
                           jpeg_.Offer(frame);
                           // "No signal" comes twice a second, each a key frame: a client that
                           // joins during an outage has a picture at once, and the picture is
                           // whole however little the encoder may spend on one frame.
                           if (frame->placeholder) h264_.KeyFrame();
                           h264_.Push(frame);
                       },
                       // Back: a key frame at once, so a recording starts anew and viewers see it.
                       [this](bool up) {
                           if (up) h264_.KeyFrame();
                       }});
}

bool Channel::Start() {
    jpeg_.Start();
    return source_.Open();
}

void Channel::Stop() {
    jpeg_.Stop();
    h264_.Stop();
}

int Channel::Watch(std::function<void(bool up)> state) { return source_.Subscribe({nullptr, std::move(state)}); }

void Channel::AddFigures(FigureSource source) {
    std::lock_guard<std::mutex> lock(figuresMutex_);
    figureSources_.push_back(std::move(source));
}

ChannelFigures Channel::Figures() {
    ChannelFigures f;
    f.id = id();
    f.source = source_.Figures();
    f.jpeg = jpeg_.Figures();
    f.h264Running = h264_.running();
    f.h264Encoded = h264_.encoded();
    std::lock_guard<std::mutex> lock(figuresMutex_);
    for (const FigureSource &source : figureSources_) source(f);
    return f;
}

}  // namespace twincam::serve
