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

bool WriterPool::Offer(common::FramePtr frame) {
    std::unique_lock<std::mutex> lock(mutex_);
    CameraCounts &cam = cameras_[frame->camera];
    if (queue_.size() >= maxWaiting_) {
        ++cam.dropped;
        lock.unlock();
        Log(*frame, false);
        return false;  // the frame's buffer goes with the last reference
    }
    ++cam.waiting;
    cam.mostWaiting = std::max(cam.mostWaiting, cam.waiting);
    queue_.push_back(std::move(frame));
    ready_.notify_one();
    return true;
}

void WriterPool::Run() {
    using Clock = std::chrono::steady_clock;
    std::vector<double> ms(sinks_.size());
    for (;;) {
        common::FramePtr frame;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return;
            frame = std::move(queue_.front());
            queue_.pop_front();
            --cameras_[frame->camera].waiting;
        }
        if (delayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
        // Every sink sees every frame, even after a failure, so that sinks
        // that keep frames in order are never left waiting for one.
        std::string error;
        for (size_t i = 0; i < sinks_.size(); ++i) {
            const Clock::time_point t0 = Clock::now();
            std::string e = sinks_[i]->Write(*frame);
            ms[i] = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            if (error.empty()) error = std::move(e);
        }
        const int camera = frame->camera;
        Log(*frame, error.empty());
        frame.reset();  // freed here unless a sink still holds it
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < ms.size(); ++i) sinkMs_[i] += ms[i];
        ++sinkFrames_;
        if (error.empty()) ++cameras_[camera].written;
        else if (error_.empty()) error_ = std::move(error);
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
    return it == cameras_.end() ? CameraCounts{} : it->second;
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
