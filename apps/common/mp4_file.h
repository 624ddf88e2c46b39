// H.264 saved as fragmented MP4 that survives being cut: a fragment at least
// every second, each starting at a key frame (the encoder makes one every
// second, and the muxer also cuts at every key frame), written straight to
// the file with no buffer between. A file cut anywhere (a power cut, a full
// disk) plays up to its last whole fragment; a file ended cleanly gets its
// duration and index as any MP4.
#ifndef TWINCAM_APPS_MP4_FILE_H
#define TWINCAM_APPS_MP4_FILE_H

#include <gst/gst.h>

#include <list>
#include <mutex>
#include <string>
#include <vector>

namespace twincam::common {

// The end of a pipeline description after h264parse: one file at location,
// or (segment > 0) pieces of that length named by the location's %05d.
std::string Mp4FileDescription(const std::string &location, GstClockTime segment);
// Pieces named as above, cut only where the caller asks the element named
// "file" (its "split-at-running-time": at the first key frame from then on).
std::string Mp4PiecesDescription(const std::string &location);

// Watches the file end of a pipeline made with Mp4FileDescription for what
// reaches the disk; made before the pipeline plays. A file whose name
// begins with a dot is given its name without the dot once its first
// fragment is whole on disk (or it ended): a file that does not play is
// never seen under its name.
class Mp4Saved {
public:
    explicit Mp4Saved(GstElement *pipeline);
    ~Mp4Saved();
    Mp4Saved(const Mp4Saved &) = delete;
    Mp4Saved &operator=(const Mp4Saved &) = delete;

    // Frames in fragments wholly on disk.
    long Frames() const;
    // Bytes handed to the files.
    long long Bytes() const;
    // The file being written, under the name it has now.
    std::string Location() const;

private:
    struct Fragment {
        size_t start, end;  // in its file; end 0 until known
        long frames;
    };
    // One file (a piece has a sink of its own) and what went into it.
    struct File {
        Mp4Saved *owner;
        GstElement *sink;
        std::string path;    // its name now; empty until its first bytes
        size_t written = 0;  // bytes handed to it
        std::vector<Fragment> fragments;
        unsigned long probe = 0;
    };
    void Watch(GstElement *sink);
    void Forget(File &file);  // with mutex_ held
    void Saw(File *file, GstBuffer *buffer);
    void Ended(File *file);
    static void Publish(File &file);  // with mutex_ held
    static long WholeFrames(const File &file);

    mutable std::mutex mutex_;
    std::list<File> files_;  // the last few; older ones are summed up below
    long frames_ = 0;
    long long bytes_ = 0;
};

}  // namespace twincam::common

#endif  // TWINCAM_APPS_MP4_FILE_H
