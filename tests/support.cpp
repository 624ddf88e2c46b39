#include "support.h"

#include <sys/stat.h>
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

}  // namespace twincam::test

bool operator==(const CameraRecord &a, const CameraRecord &b) {
    return a.initialized == b.initialized && a.id == b.id && a.fps == b.fps && a.width == b.width &&
           a.height == b.height && a.frameSize == b.frameSize;
}

void PrintTo(const CameraRecord &r, std::ostream *os) {
    *os << "{" << (r.initialized ? "filled" : "unfilled") << " id " << r.id << " fps " << r.fps << " "
        << r.width << "x" << r.height << " frameSize " << r.frameSize << "}";
}
