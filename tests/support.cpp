#include "support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace twincam::test {

const CameraRecord kUnfilled = {false, kInvalidCameraId, 0, 0, 0, 0};

Lines Journal() {
    Lines lines;
    char buf[256];
    for (size_t i = 0, n = twincam_sim_journal_size(); i < n; ++i) {
        twincam_sim_journal_format(i, buf, sizeof buf);
        lines.emplace_back(buf);
    }
    return lines;
}

Lines Calls() {
    Lines lines = Journal();
    lines.erase(std::remove_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("aclAppLog", 0) == 0; }),
                lines.end());
    return lines;
}

std::vector<LogLine> Log() {
    std::vector<LogLine> lines;
    twincam_sim_log_record r;
    for (size_t i = 0; twincam_sim_log_get(i, &r) == 0; ++i) lines.push_back({r.level, r.func, r.file, r.line, r.message, 0});
    return lines;
}

twincam_sim_camera_info CameraInfo(int32_t id) {
    twincam_sim_camera_info info{};
    twincam_sim_camera(id, &info);
    return info;
}

Capture::Capture(FILE *stream) : stream_(stream), fd_(fileno(stream)) {
    std::fflush(stream_);
    file_ = std::tmpfile();
    if (file_ == nullptr) throw std::runtime_error("tmpfile failed");
    saved_ = dup(fd_);
    dup2(fileno(file_), fd_);
}

Capture::~Capture() {
    std::fflush(stream_);
    dup2(saved_, fd_);
    close(saved_);
    std::fclose(file_);
}

size_t Capture::Size() {
    std::fflush(stream_);
    struct stat st {};
    fstat(fileno(file_), &st);
    return static_cast<size_t>(st.st_size);
}

std::string Capture::Text() {
    const size_t size = Size();
    std::string text(size, '\0');
    if (size > 0 && pread(fileno(file_), text.data(), size, 0) != static_cast<ssize_t>(size)) {
        throw std::runtime_error("reading the capture failed");
    }
    return text;
}

Sinks::Sinks() : out_(stdout) {
    twincam_sim_log_clear();
    twincam_sim_set_log_hook(&Sinks::Hook, this);
}

Sinks::~Sinks() { twincam_sim_set_log_hook(nullptr, nullptr); }

void Sinks::Hook(const twincam_sim_log_record *, void *self) {
    auto *sinks = static_cast<Sinks *>(self);
    sinks->offsets_.push_back(sinks->out_.Size());
}

std::vector<LogLine> Sinks::Log() {
    std::vector<LogLine> lines = twincam::test::Log();
    for (size_t i = 0; i < lines.size() && i < offsets_.size(); ++i) lines[i].stdoutBefore = offsets_[i];
    return lines;
}

bool ScheduleFaults(const std::vector<Fault> &faults) {
    return std::all_of(faults.begin(), faults.end(), [](const Fault &f) {
        return twincam_sim_fault(f.op, static_cast<uint32_t>(twincam_sim_call_count(f.op)) + f.nth, f.value) == 0;
    });
}

void ExpectReports(const std::vector<LogLine> &log, const std::string &out, const std::vector<Report> &reports) {
    std::string expectedOut;
    EXPECT_EQ(log.size(), reports.size()) << out;
    for (size_t i = 0; i < reports.size() && i < log.size(); ++i) {
        const Report &r = reports[i];
        SCOPED_TRACE(r.text);
        EXPECT_EQ(log[i].level, r.level);
        EXPECT_EQ(log[i].func, r.func);
        EXPECT_EQ(log[i].file, "camera.cpp");
        EXPECT_GT(log[i].line, 0u);
        EXPECT_EQ(log[i].message, r.text);
        // The log record comes first: stdout holds only the earlier lines.
        EXPECT_EQ(log[i].stdoutBefore, expectedOut.size());
        expectedOut += Line(r);
    }
    EXPECT_EQ(out, expectedOut);
}

int32_t Verify(const Call &call, const Expected &e) {
    const int32_t id = e.camera, other = 1 - id;
    CameraManager before;
    std::memcpy(&before, &g_CameraMgr, sizeof before);
    const twincam_sim_camera_info otherBefore = CameraInfo(other);
    twincam_sim_journal_clear();

    void *const sentinel = &before;
    CameraFrame frame = {-1, sentinel};
    int32_t result = -1;
    std::string out, err;
    std::vector<LogLine> log;
    {
        Capture errors(stderr);
        Sinks sinks;
        result = call(&frame);
        out = sinks.Stdout();
        log = sinks.Log();
        err = errors.Text();
    }
    EXPECT_EQ(result, e.result);
    EXPECT_EQ(Calls(), e.calls);
    ExpectReports(log, out, e.reports);
    EXPECT_EQ(err, "") << "the library writes nothing to standard error";

    const bool initialises = std::any_of(e.calls.begin(), e.calls.end(),
                                         [](const std::string &c) { return c.rfind("MediaLibInit(", 0) == 0; });
    EXPECT_EQ(g_CameraMgr.hwInitialized, before.hwInitialized || initialises);
    EXPECT_EQ(g_CameraMgr.cameras[id], e.record.value_or(before.cameras[id]));
    EXPECT_EQ(g_CameraMgr.cameras[other], before.cameras[other]);
    if (e.open) {
        EXPECT_EQ(CameraInfo(id).open, *e.open ? 1 : 0);
    }
    EXPECT_EQ(CameraInfo(other).open, otherBefore.open) << "the other camera is never touched";

    // A delivered frame is the caller's, of the recorded size; a failure
    // leaves the record as it was.
    if (frame.data != sentinel) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(frame.size, g_CameraMgr.cameras[id].frameSize);
        EXPECT_EQ(twincam_sim_live_buffers(), e.live + 1);
        EXPECT_EQ(acldvppFree(frame.data), 0);
    } else {
        EXPECT_EQ(frame.size, -1);
    }
    EXPECT_EQ(twincam_sim_live_buffers(), e.live);
    return result;
}

Call Opening(int32_t id, int32_t fps, int32_t width, int32_t height) {
    return [=](CameraFrame *) { return OpenCameraEx(id, fps, width, height); };
}
Call Configuring(int32_t id, int32_t fps, int32_t width, int32_t height) {
    return [=](CameraFrame *) { return ConfigCamera(id, fps, width, height); };
}
Call Reading(int32_t id) {
    return [=](CameraFrame *frame) { return ReadCameraFrame(id, frame); };
}
Call ReadingNull(int32_t id) {
    return [=](CameraFrame *) { return ReadCameraFrame(id, nullptr); };
}
Call Closing(int32_t id) {
    return [=](CameraFrame *) { return CloseCameraEx(id); };
}

void Open0() { ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0); }

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

void Run(const Case &c) {
    if (c.setup) {
        Sinks quiet;  // setting up makes real calls; their reports are not under test
        c.setup();
    }
    if (testing::Test::HasFatalFailure()) return;
    Verify(c.call, c.expected);
}

std::string CaseName(const testing::TestParamInfo<Case> &info) { return info.param.name; }

}  // namespace twincam::test

bool operator==(const CameraRecord &a, const CameraRecord &b) {
    return a.initialized == b.initialized && a.id == b.id && a.fps == b.fps && a.width == b.width &&
           a.height == b.height && a.frameSize == b.frameSize;
}

void PrintTo(const CameraRecord &r, std::ostream *os) {
    *os << "{" << (r.initialized ? "filled" : "unfilled") << " id " << r.id << " fps " << r.fps << " "
        << r.width << "x" << r.height << " frameSize " << r.frameSize << "}";
}
