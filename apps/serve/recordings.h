// The recorded segments on disk, DIR/cam<ID>/<UTC start>.mp4 (names sort in
// time order): listed as JSON, and served one by one with byte ranges so
// that a <video> element plays and seeks them. Only names of that form in a
// recorded camera's folder are ever opened.
#ifndef TWINCAM_SERVE_RECORDINGS_H
#define TWINCAM_SERVE_RECORDINGS_H

#include <string>
#include <string_view>
#include <vector>

#include "frame.h"
#include "router.h"

namespace twincam::serve {

struct Segment {
    int camera = 0;
    std::string file, path;
    common::WallClock::time_point start{};
    double seconds = 0;  // to its last write
    long long bytes = 0;
};

class Recordings {
public:
    Recordings(std::string dir, std::vector<int> cameras) : dir_(std::move(dir)), cameras_(std::move(cameras)) {}
    const std::string &dir() const { return dir_; }
    std::string Folder(int camera) const;

    // Every camera's segments, oldest first.
    std::vector<Segment> List() const;
    std::string Json() const;
    // GET or HEAD of "cam<ID>/<file>" with an optional Range header.
    Reply Serve(std::string_view rest, std::string_view range, bool head) const;

    // A segment's file name by its first frame's wall clock time, and back.
    static std::string Name(common::WallClock::time_point start);
    static bool ParseName(std::string_view name, common::WallClock::time_point *start);

private:
    std::string dir_;
    std::vector<int> cameras_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_RECORDINGS_H
