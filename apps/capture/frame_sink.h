// Where captured frames go. Each output is one sink; the writers hand every
// frame to every sink, from several threads at once.
#ifndef TWINCAM_CAPTURE_FRAME_SINK_H
#define TWINCAM_CAPTURE_FRAME_SINK_H

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "frame.h"

namespace twincam::capture {

using common::Frame;
using common::FramePtr;

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Short name for the summary ("png", "y4m", ...).
    virtual const char *name() const = 0;
    // Writes one frame; safe to call from several threads. Returns an empty
    // string, or what went wrong.
    virtual std::string Write(const Frame &frame) = 0;
    // Writes a frame it may keep beyond the call: a sink that hands the
    // buffer on rather than copying it takes it here.
    virtual std::string Take(const FramePtr &frame) { return Write(*frame); }
    // Writes a stereo pair; unless the sink joins them, each on its own.
    virtual std::string WritePair(const FramePtr &first, const FramePtr &second) {
        std::string error = Take(first);
        std::string later = Take(second);
        return error.empty() ? later : error;
    }
    // After the last frame: flushes and closes. Returns as Write does.
    virtual std::string Finish() { return {}; }
    // Files written so far.
    virtual long files() const = 0;
    // After Finish, for a sink that saves frames after it takes them (a
    // video): how many of a camera's reached the disk whole; -1 for a sink
    // whose every frame taken is saved.
    virtual long saved(int) const { return -1; }
    // The name of the file of its own a frame goes to, or "" for a sink
    // that puts frames together (a video, a sheet).
    virtual std::string FileFor(const Frame &) const { return {}; }
};

// Frames reach the writers in order but may finish out of it. A sink that
// keeps each camera's frames in order makes each wait for its turn, which
// its predecessor (already taken by another writer) gives when done.
class CameraTurns {
public:
    // With the sink's lock held; waits for f's turn.
    void Await(std::unique_lock<std::mutex> &lock, const Frame &f) {
        turn_.wait(lock, [&] { return next_[f.camera] == f.index; });
    }
    // With the sink's lock held; f is done, its successor's turn.
    void Done(const Frame &f) {
        ++next_[f.camera];
        turn_.notify_all();
    }

private:
    std::condition_variable turn_;
    std::map<int, long> next_;
};

// The sinks of one file per frame name it cam<ID>-<SEQ>, or within a stereo
// pair pair-<N>-cam<ID>; sideBySide puts a pair's frames in one picture,
// pair-<N>, the first on the left.
// .png, zlib level 0..9.
std::unique_ptr<FrameSink> MakePngFiles(const std::string &dir, int level, bool sideBySide);
// .jpg, quality 1..100.
std::unique_ptr<FrameSink> MakeJpegFiles(const std::string &dir, int quality, bool sideBySide);
// .nv12, the frame as delivered.
std::unique_ptr<FrameSink> MakeNv12Files(const std::string &dir, bool sideBySide);
// cam<ID>.y4m per camera, frames in the order they were read.
std::unique_ptr<FrameSink> MakeY4mVideo(const std::string &dir, int fps);
// cam<ID>.mp4 per camera, H.264 through GStreamer, each frame at its read
// time; segmentSeconds > 0 cuts it into cam<ID>-<NNNNN>.mp4 pieces that each
// play. Empty, with *error saying why, where this build has no GStreamer.
std::unique_ptr<FrameSink> MakeMp4Video(const std::string &dir, const std::string &encoder, int fps,
                                        int segmentSeconds, std::string *error);
// One PNG of thumbnails of every frame, in the order they were read.
std::unique_ptr<FrameSink> MakeContactSheet(const std::string &path);

}  // namespace twincam::capture

#endif  // TWINCAM_CAPTURE_FRAME_SINK_H
