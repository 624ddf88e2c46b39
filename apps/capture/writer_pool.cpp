#include "writer_pool.h"

#include <chrono>

namespace twincam::capture {

WriterPool::WriterPool(std::vector<std::unique_ptr<FrameSink>> sinks, FrameLog *log, size_t maxWaiting, int threads,
                       int delayMs)
    : sinks_(std::move(sinks)), log_(log), sinkMs_(sinks_.size(), 0.0), maxWaiting_(maxWaiting), delayMs_(delayMs) {
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

WriterPool::~WriterPool() { Drain(); }

void WriterPool::Log(const common::Frame &frame, bool written) {
    if (log_ == nullptr) return;
    std::string file;
    for (size_t i = 0; i < sinks_.size() && file.empty(); ++i) file = sinks_[i]->FileFor(frame);
    std::string error = log_->Add(frame, file, written);
    std::lock_guard<std::mutex> lock(mutex_);
    if (error_.empty()) error_ = std::move(error);
}

bool WriterPool::Offer(common::FramePtr frame) { return Queue({std::move(frame), nullptr}); }

bool WriterPool::OfferPair(common::FramePtr first, common::FramePtr second) {
    return Queue({std::move(first), std::move(second)});
}

bool WriterPool::Queue(Item item) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool full = queue_.size() >= maxWaiting_;
    for (const common::FramePtr *f : {&item.first, &item.second}) {
        if (*f == nullptr) continue;
        CameraCounts &cam = cameras_[(*f)->camera];
        if (full) {
            ++cam.dropped;
        } else {
            cam.mostWaiting = std::max(cam.mostWaiting, ++cam.waiting);
        }
    }
    if (full) {
        lock.unlock();
        Log(*item.first, false);
        if (item.second) Log(*item.second, false);
        return false;  // the buffers go with the last references
    }
    queue_.push_back(std::move(item));
    ready_.notify_one();
    return true;
}

// Every sink sees every frame, even after a failure, so that sinks that keep
// frames in order are never left waiting for one.
std::string WriterPool::WriteItem(const Item &item, std::vector<double> *ms) {
    using Clock = std::chrono::steady_clock;
    std::string error;
    for (size_t i = 0; i < sinks_.size(); ++i) {
        const Clock::time_point t0 = Clock::now();
        std::string e = item.second ? sinks_[i]->WritePair(item.first, item.second) : sinks_[i]->Take(item.first);
        (*ms)[i] = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (error.empty()) error = std::move(e);
    }
    Log(*item.first, error.empty());
    if (item.second) Log(*item.second, error.empty());
    return error;
}

void WriterPool::Run() {
    std::vector<double> ms(sinks_.size());
    for (;;) {
        Item item;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return;
            item = std::move(queue_.front());
            queue_.pop_front();
            --cameras_[item.first->camera].waiting;
            if (item.second) --cameras_[item.second->camera].waiting;
        }
        if (delayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
        std::string error = WriteItem(item, &ms);
        const int cameras[2] = {item.first->camera, item.second ? item.second->camera : -1};
        const int frames = item.second ? 2 : 1;
        item = {};  // freed here unless a sink still holds them
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < ms.size(); ++i) sinkMs_[i] += ms[i];
        sinkFrames_ += frames;
        for (const int camera : cameras) {
            if (camera >= 0 && error.empty()) ++cameras_[camera].written;
        }
        if (!error.empty() && error_.empty()) error_ = std::move(error);
    }
}

std::string WriterPool::Drain() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_ && threads_.empty()) return error_;
        closing_ = true;
    }
    ready_.notify_all();
    for (std::thread &t : threads_) t.join();
    threads_.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &sink : sinks_) {
        std::string e = sink->Finish();
        if (error_.empty()) error_ = std::move(e);
    }
    return error_;
}

bool WriterPool::failed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !error_.empty();
}

WriterPool::CameraCounts WriterPool::counts(int camera) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = cameras_.find(camera);
    CameraCounts counts = it == cameras_.end() ? CameraCounts{} : it->second;
    // Once finished, a frame counts as written only where every sink saved it.
    for (const auto &sink : sinks_) {
        if (const long saved = closing_ && threads_.empty() ? sink->saved(camera) : -1; saved >= 0) {
            counts.written = std::min(counts.written, saved);
        }
    }
    return counts;
}

std::vector<WriterPool::SinkTime> WriterPool::sinkTimes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<SinkTime> times;
    for (size_t i = 0; i < sinks_.size(); ++i) {
        times.push_back({sinks_[i]->name(), sinkFrames_ > 0 ? sinkMs_[i] / static_cast<double>(sinkFrames_) : 0.0});
    }
    return times;
}

long WriterPool::files() const {
    long n = 0;
    for (const auto &sink : sinks_) n += sink->files();
    return n;
}

}  // namespace twincam::capture
