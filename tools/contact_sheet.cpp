// A thumbnail of every frame, written as one PNG grid at the end.
#include <atomic>
#include <map>
#include <mutex>
#include <utility>

#include "frame_sink.h"

namespace twincam::tools {
namespace {

constexpr int kThumbWidth = 160;

class ContactSheet : public FrameSink {
public:
    explicit ContactSheet(std::string path) : path_(std::move(path)) {}
    const char *name() const override { return "sheet"; }
    long files() const override { return written_ ? 1 : 0; }

    std::string Write(const Frame &f) override {
        Nv12Image thumb = Thumbnail(f.view(), kThumbWidth);
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

}  // namespace twincam::tools
