// Writers that take frames off the reader's hands: a bounded queue and
// threads that hand each frame to every sink. The reader never waits for
// them; when the queue is full, the newest frame is dropped and counted.
#ifndef TWINCAM_CAPTURE_WRITER_POOL_H
#define TWINCAM_CAPTURE_WRITER_POOL_H

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_log.h"
#include "frame_sink.h"

namespace twincam::capture {

class WriterPool {
public:
    struct CameraCounts {
        long written = 0;     // frames every sink took
        long dropped = 0;     // frames freed unwritten: the queue was full
        size_t waiting = 0;   // frames in the queue now
        size_t mostWaiting = 0;
    };
    struct SinkTime {
        std::string name;
        double msPerFrame = 0;
    };

    // delay: an artificial pause per frame, to prove the bound in tests.
    // log: where every frame offered is recorded, written or dropped.
    WriterPool(std::vector<std::unique_ptr<FrameSink>> sinks, FrameLog *log, size_t maxWaiting, int threads,
               int delayMs = 0);
    ~WriterPool();

    // Queues a frame; when maxWaiting frames already wait, drops it
    // (freeing its buffer) and returns false. Never blocks on writing.
    bool Offer(common::FramePtr frame);
    // Queues a stereo pair whole, or drops it whole, as Offer does.
    bool OfferPair(common::FramePtr first, common::FramePtr second);
    // Records a frame that is not to be written (read, then left unpaired).
    void Discard(const common::Frame &frame) { Log(frame, false); }
    // Writes what is queued, stops the threads and finishes the sinks;
    // returns the first error of the whole run, or an empty string.
    std::string Drain();
    // A write has failed: the reader should stop.
    bool failed() const;

    CameraCounts counts(int camera) const;
    std::vector<SinkTime> sinkTimes() const;
    long files() const;

private:
    // What one writer takes at a time: a frame, or both frames of a pair.
    struct Item {
        common::FramePtr first, second;
    };
    bool Queue(Item item);
    std::string WriteItem(const Item &item, std::vector<double> *ms);
    void Run();
    void Log(const common::Frame &frame, bool written);

    std::vector<std::unique_ptr<FrameSink>> sinks_;
    FrameLog *const log_;
    std::vector<double> sinkMs_;  // total per sink
    long sinkFrames_ = 0;
    const size_t maxWaiting_;
    const int delayMs_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Item> queue_;
    std::map<int, CameraCounts> cameras_;
    std::string error_;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace twincam::capture

#endif  // TWINCAM_CAPTURE_WRITER_POOL_H
