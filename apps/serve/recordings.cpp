#include "recordings.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace twincam::serve {
namespace {

namespace fs = std::filesystem;
using common::WallClock;

constexpr char kNameFormat[] = "%04d-%02d-%02dT%02d-%02d-%02d.%03dZ.mp4";
constexpr size_t kNameLength = 28;  // 2026-12-09T18-40-00.123Z.mp4

Reply Text(int status, std::string text) { return Reply{status, "text/plain; charset=utf-8", std::move(text), {}}; }

// "bytes=A-B", "bytes=A-" or "bytes=-N" of a file of size bytes: true with
// the first byte and the count; false when the range cannot be met. A range
// of another form (several ranges) is none: the whole file.
bool ByteRange(std::string_view range, long long size, long long *first, long long *count) {
    *first = 0;
    *count = size;
    long long a = -1, b = -1;
    char extra = 0;
    const std::string text(range);
    if (text.empty() || text.find(',') != std::string::npos) return true;
    if (std::sscanf(text.c_str(), "bytes=-%lld%c", &b, &extra) == 1 && b >= 0) {
        a = std::max(0LL, size - b), b = size - 1;
    } else if (std::sscanf(text.c_str(), "bytes=%lld-%lld%c", &a, &b, &extra) == 2 && a >= 0 && b >= a) {
        b = std::min(b, size - 1);
    } else if (std::sscanf(text.c_str(), "bytes=%lld-%c", &a, &extra) == 1 && a >= 0) {
        b = size - 1;
    } else {
        return true;  // not a range we know: the whole file
    }
    if (a >= size || size == 0) return false;
    *first = a;
    *count = b - a + 1;
    return true;
}

}  // namespace

std::string Recordings::Name(WallClock::time_point start) {
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(start.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char name[64];
    std::snprintf(name, sizeof name, kNameFormat, utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                  utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
    return name;
}

bool Recordings::ParseName(std::string_view name, WallClock::time_point *start) {
    std::tm utc{};
    int ms = 0;
    if (name.size() != kNameLength) return false;
    const std::string text(name);
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d-%2d-%2d.%3dZ.mp4", &utc.tm_year, &utc.tm_mon, &utc.tm_mday,
                    &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &ms) != 7) {
        return false;
    }
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    const std::time_t seconds = timegm(&utc);
    *start = WallClock::time_point(std::chrono::seconds(seconds) + std::chrono::milliseconds(ms));
    // Only the name this server would give that moment: nothing else is opened.
    return Name(*start) == text;
}

std::string Recordings::Folder(int camera) const { return (fs::path(dir_) / ("cam" + std::to_string(camera))).string(); }

std::vector<Segment> Recordings::List() const {
    std::vector<Segment> segments;
    for (int camera : cameras_) {
        std::error_code ec;
        for (const fs::directory_entry &entry : fs::directory_iterator(Folder(camera), ec)) {
            Segment s{camera, entry.path().filename().string(), entry.path().string()};
            struct stat st {};
            if (!ParseName(s.file, &s.start) || stat(s.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            s.bytes = st.st_size;
            const WallClock::time_point written{std::chrono::seconds(st.st_mtim.tv_sec) +
                                                std::chrono::nanoseconds(st.st_mtim.tv_nsec)};
            s.seconds = std::max(0.0, std::chrono::duration<double>(written - s.start).count());
            segments.push_back(std::move(s));
        }
    }
    std::sort(segments.begin(), segments.end(), [](const Segment &a, const Segment &b) { return a.start < b.start; });
    return segments;
}

std::string Recordings::Json() const {
    std::string json = "{\"segments\":[";
    for (const Segment &s : List()) {
        char row[256];
        std::snprintf(row, sizeof row,
                      "%s{\"camera\":%d,\"file\":\"cam%d/%s\",\"start\":\"%s\",\"duration\":%.3f,\"bytes\":%lld}",
                      json.back() == '[' ? "" : ",", s.camera, s.camera, s.file.c_str(),
                      common::IsoUtc(s.start).c_str(), s.seconds, s.bytes);
        json += row;
    }
    return json + "]}";
}

Reply Recordings::Serve(std::string_view rest, std::string_view range, bool) const {
    const size_t slash = rest.find('/');
    const std::optional<int> camera =
        rest.substr(0, 3) == "cam" && slash != std::string_view::npos ? CameraId(rest.substr(3, slash - 3)) : std::nullopt;
    WallClock::time_point start;
    if (!camera || std::find(cameras_.begin(), cameras_.end(), *camera) == cameras_.end() ||
        !ParseName(rest.substr(slash + 1), &start)) {
        return Text(404, "no such recording\n");
    }
    const std::string path = (fs::path(Folder(*camera)) / std::string(rest.substr(slash + 1))).string();
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Text(404, "no such recording\n");
    long long first = 0, count = 0;
    if (!ByteRange(range, st.st_size, &first, &count)) {
        Reply reply = Text(416, "the range is past the end of the recording\n");
        reply.headers.emplace_back("Content-Range", "bytes */" + std::to_string(st.st_size));
        return reply;
    }
    Reply reply{count == st.st_size ? 200 : 206, "video/mp4", path, {{"Accept-Ranges", "bytes"}}, Reply::Body::kFile};
    if (reply.status == 206) {
        reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                        std::to_string(first + count - 1) + "/" + std::to_string(st.st_size));
    }
    reply.offset = first;
    reply.length = count;
    return reply;
}

}  // namespace twincam::serve
