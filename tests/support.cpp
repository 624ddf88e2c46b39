#include "support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace twincam::test {

const CameraRecord kUnfilled = {false, kInvalidCameraId, 0, 0, 0, 0};

std::vector<std::string> Journal() {
    std::vector<std::string> lines;
    char buf[256];
    for (size_t i = 0, n = twincam_sim_journal_size(); i < n; ++i) {
        twincam_sim_journal_format(i, buf, sizeof buf);
        lines.emplace_back(buf);
    }
    return lines;
}

std::vector<std::string> Calls() {
    std::vector<std::string> lines;
    for (std::string &line : Journal()) {
        if (line.rfind("aclAppLog", 0) != 0) lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<LogLine> Log() {
    std::vector<LogLine> lines;
    twincam_sim_log_record r;
    for (size_t i = 0; twincam_sim_log_get(i, &r) == 0; ++i) {
        lines.push_back(LogLine{r.level, r.func, r.file, r.line, r.message, 0});
    }
    return lines;
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
    for (const Fault &f : faults) {
        const auto nth = static_cast<uint32_t>(twincam_sim_call_count(f.op)) + f.nth;
        if (twincam_sim_fault(f.op, nth, f.value) != 0) return false;
    }
    return true;
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

int32_t Verify(const std::function<int32_t(CameraFrame *)> &call, const Expected &e) {
    CameraManager before;
    std::memcpy(&before, &g_CameraMgr, sizeof before);
    twincam_sim_camera_info other{};
    twincam_sim_camera(1, &other);
    twincam_sim_journal_clear();

    void *const sentinel = &before;
    CameraFrame frame = {-1, sentinel};
    int32_t result = -1;
    std::string out;
    std::vector<LogLine> log;
    {
        Sinks sinks;
        result = call(&frame);
        out = sinks.Stdout();
        log = sinks.Log();
    }
    const Lines calls = Calls();
    EXPECT_EQ(result, e.result);
    EXPECT_EQ(calls, e.calls);
    ExpectReports(log, out, e.reports);

    const bool initialises = std::any_of(e.calls.begin(), e.calls.end(),
                                         [](const std::string &c) { return c.rfind("MediaLibInit(", 0) == 0; });
    EXPECT_EQ(g_CameraMgr.hwInitialized, before.hwInitialized || initialises);
    EXPECT_EQ(g_CameraMgr.cameras[0], e.record0.value_or(before.cameras[0]));
    EXPECT_EQ(g_CameraMgr.cameras[1], before.cameras[1]);
    twincam_sim_camera_info camera{};
    if (e.open0) {
        twincam_sim_camera(0, &camera);
        EXPECT_EQ(camera.open, *e.open0 ? 1 : 0);
    }
    twincam_sim_camera(1, &camera);
    EXPECT_EQ(camera.open, other.open) << "camera 1 is never touched";

    // A delivered frame is the caller's, of the recorded size; a failure
    // leaves the record as it was.
    if (frame.data != sentinel) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(frame.size, g_CameraMgr.cameras[0].frameSize);
        EXPECT_EQ(twincam_sim_live_buffers(), e.live + 1);
        EXPECT_EQ(acldvppFree(frame.data), 0);
    } else {
        EXPECT_EQ(frame.size, -1);
    }
    EXPECT_EQ(twincam_sim_live_buffers(), e.live);
    return result;
}

}  // namespace twincam::test

bool operator==(const CameraRecord &a, const CameraRecord &b) {
    return a.initialized == b.initialized && a.id == b.id && a.fps == b.fps && a.width == b.width &&
           a.height == b.height && a.frameSize == b.frameSize;
}

void PrintTo(const CameraRecord &r, std::ostream *os) {
    *os << "{" << (r.initialized ? "filled" : "unfilled") << " id " << r.id << " fps " << r.fps << " "
        << r.width << "x" << r.height << " frameSize " << r.frameSize << "}";
}
