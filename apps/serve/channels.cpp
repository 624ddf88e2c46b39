#include "channels.h"

#include <cstdio>
#include <utility>

#include "log.h"

namespace twincam::serve {

std::optional<int> CameraId(std::string_view digits) {
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::stoi(std::string(digits));
}

Channels::Channels(const std::vector<int> &cameras, const Channel::Settings &settings) {
    for (int id : cameras) channels_.emplace(id, std::make_unique<Channel>(id, settings));
}

void Channels::Start() {
    for (auto &[id, channel] : channels_) channel->Start();
}

void Channels::Read() {
    reader_ = std::thread([this] {
        while (!stop_.load()) {
            bool delivering = false;
            Clock::time_point wanted = Clock::now() + std::chrono::milliseconds(100);  // stop is looked at this often
            for (auto &[id, channel] : channels_) {
                if (stop_.load()) break;
                wanted = std::min(wanted, channel->Step());
                delivering = delivering || channel->up();
            }
            // A camera that delivers paces the loop itself; none does: sleep, not spin.
            if (!delivering) std::this_thread::sleep_until(wanted);
        }
        finished_.store(true);
    });
}

bool Channels::StopReading(Clock::duration patience) {
    stop_.store(true);
    if (!reader_.joinable()) return true;
    const Clock::time_point deadline = Clock::now() + patience;
    while (!finished_.load() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!finished_.load()) return false;
    reader_.join();
    return true;
}

bool Channels::Stop() {
    if (std::exchange(stopped_, true)) return true;
    bool closed = true;
    for (auto &[id, channel] : channels_) channel->Stop();
    for (auto &[id, channel] : channels_) {
        if (!channel->Close()) {
            Log("closing camera %d failed", id);
            closed = false;
        }
    }
    return closed;
}

Channel *Channels::Find(int id) {
    const auto it = channels_.find(id);
    return it == channels_.end() ? nullptr : it->second.get();
}

Channel *Channels::Find(std::string_view digits) {
    const std::optional<int> id = CameraId(digits);
    return id ? Find(*id) : nullptr;
}

std::vector<Channel *> Channels::all() {
    std::vector<Channel *> all;
    for (auto &[id, channel] : channels_) all.push_back(channel.get());
    return all;
}

std::vector<ChannelFigures> Channels::Figures() {
    std::vector<ChannelFigures> figures;
    for (auto &[id, channel] : channels_) figures.push_back(channel->Figures());
    return figures;
}

int Channels::Stuck(Clock::duration limit, Clock::duration *stuckFor) {
    const Clock::time_point now = Clock::now();
    for (auto &[id, channel] : channels_) {
        *stuckFor = channel->StuckFor(now);
        if (*stuckFor > limit) return id;
    }
    return -1;
}

}  // namespace twincam::serve
