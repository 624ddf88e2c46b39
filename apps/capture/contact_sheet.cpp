// A thumbnail of every frame, written as one PNG grid at the end.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "frame_sink.h"
#include "nv12.h"
#include "png_writer.h"

namespace twincam::capture {
namespace {

using common::Nv12Image;

constexpr int kThumbWidth = 160;
constexpr int kPngLevel = 6;

// All thumbnails on one picture, in order, as a grid with thin gaps.
std::string WriteContactSheet(const std::string &path, const std::vector<Nv12Image> &thumbs) {
    constexpr int kGap = 4;
    const int count = static_cast<int>(thumbs.size());
    const int columns = std::clamp(static_cast<int>(std::ceil(std::sqrt(count))), 1, 10);
    const int rows = (count + columns - 1) / columns;
    int cellW = 0, cellH = 0;
    for (const Nv12Image &t : thumbs) cellW = std::max(cellW, t.width), cellH = std::max(cellH, t.height);
    const int width = columns * (cellW + kGap) + kGap;
    const int height = rows * (cellH + kGap) + kGap;
    std::vector<uint8_t> sheet(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 48);
    std::vector<uint8_t> rgb;
    for (int i = 0; i < count; ++i) {
        const Nv12Image &t = thumbs[i];
        rgb.resize(static_cast<size_t>(t.width) * static_cast<size_t>(t.height) * 3);
        common::Nv12ToRgb(t.view(), rgb.data());
        const int x0 = kGap + (i % columns) * (cellW + kGap);
        const int y0 = kGap + (i / columns) * (cellH + kGap);
        const size_t rowBytes = static_cast<size_t>(t.width) * 3;
        for (int y = 0; y < t.height; ++y) {
            std::memcpy(&sheet[(static_cast<size_t>(y0 + y) * width + x0) * 3], &rgb[y * rowBytes], rowBytes);
        }
    }
    return common::WriteRgbPng(path, width, height, sheet.data(), kPngLevel);
}

class ContactSheet : public FrameSink {
public:
    explicit ContactSheet(std::string path) : path_(std::move(path)) {}
    const char *name() const override { return "sheet"; }
    long files() const override { return written_ ? 1 : 0; }

    std::string Write(const Frame &f) override {
        Nv12Image thumb = common::Thumbnail(f.view(), kThumbWidth);
        std::lock_guard<std::mutex> lock(mutex_);
        thumbs_.emplace(std::make_pair(f.index, f.camera), std::move(thumb));
        return {};
    }

    std::string Finish() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (thumbs_.empty() || written_) return {};
        std::vector<Nv12Image> ordered;
        for (auto &entry : thumbs_) ordered.push_back(std::move(entry.second));
        thumbs_.clear();
        std::string error = WriteContactSheet(path_, ordered);
        written_ = error.empty();
        return error;
    }

private:
    std::string path_;
    std::mutex mutex_;
    // In reading order: the cameras are read in turn.
    std::map<std::pair<long, int>, Nv12Image> thumbs_;
    std::atomic<bool> written_{false};
};

}  // namespace

std::unique_ptr<FrameSink> MakeContactSheet(const std::string &path) { return std::make_unique<ContactSheet>(path); }

}  // namespace twincam::capture
