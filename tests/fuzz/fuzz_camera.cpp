// libFuzzer target: reads its input as a program of camera operations, with
// ids and parameters drawn from the extremes, and of faults for the stand-in
// platform to inject. After every step it checks what must hold whatever
// happens: results of 0 or 1, a registry whose filled records are sound,
// live buffers equal to the frames delivered and not yet freed, and one
// well-formed report line per log record, with a failure never unreported.
//
// Input: a sequence of steps, each one opcode byte followed by its operands.
// An operand byte below 0xF0 picks from the operand's table; 0xF0 and above
// takes the next four bytes as a raw 32-bit value.
#include <sys/mman.h>
#include <unistd.h>

#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "messages.h"
#include "twincam/camera.h"
#include "twincam/platform/acl_runtime.h"
#include "twincam/sim/twincam_sim.h"

namespace {

const int32_t kIds[] = {0, 1, 0, 1, 2, -1, INT32_MIN, INT32_MAX};
const int32_t kFps[] = {30, 15, 1, 240, 0, -1, 241, INT32_MIN, INT32_MAX};
const int32_t kDims[] = {64, 48, 32, 16, 2, 4, 0, 1, 3, -2, 8192, 8194, 26754, 26755,
                         46341, 65536, 715827882, 715827883, -715827882, -715827883, INT32_MAX, INT32_MIN};
const int32_t kStatuses[] = {0, 3, -1, INT32_MIN, INT32_MAX, 1, 2};
const int32_t kReads[] = {TWINCAM_SIM_READ_FAIL, TWINCAM_SIM_READ_SHORT, TWINCAM_SIM_READ_LONG};
const int32_t kAllocErrors[] = {0, ACL_ERROR_INVALID_PARAM, -1, INT32_MIN};

// A delivered frame is kept for a later free step; more than this many are
// freed oldest first, so frames of the largest sizes cannot exhaust memory.
constexpr size_t kMaxKept = 8;
// Reads of frames this large allocate (and under ASan clear) up to 1 GiB
// each; a few per input find what they can, more only exceed the timeout.
constexpr int32_t kHugeFrame = 64 << 20;
constexpr int kMaxHugeReads = 2;
constexpr int kMaxSteps = 64;

[[noreturn]] __attribute__((format(printf, 1, 2))) void Fail(const char *fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    std::fputs("fuzz_camera: invariant broken: ", stderr);
    std::vfprintf(stderr, fmt, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    template <size_t N>
    int32_t Pick(const int32_t (&table)[N]) {
        const uint8_t b = Byte();
        if (b < 0xF0) return table[b % N];
        uint32_t raw = 0;
        for (int i = 0; i < 4; ++i) raw = raw << 8 | Byte();
        int32_t value;
        std::memcpy(&value, &raw, sizeof value);
        return value;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

CameraManager g_pristine;
int g_stdoutFd = -1;
off_t g_stdoutRead = 0;

// Standard output since the last call.
std::string NewStdout() {
    std::fflush(stdout);
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = pread(g_stdoutFd, buf, sizeof buf, g_stdoutRead);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        g_stdoutRead += n;
    }
    return text;
}

// The reports one step made; returns how many were errors.
size_t CheckReports(size_t *logSeen) {
    const std::string out = NewStdout();
    size_t errors = 0, pos = 0;
    twincam_sim_log_record record;
    for (; twincam_sim_log_get(*logSeen, &record) == 0; ++*logSeen) {
        // A known format, from the function that reports it, at its level.
        if (twincam::test::FindFormat(record.func, record.level, record.format) == nullptr) {
            Fail("record '%s' from %s at level %d", record.format, record.func, record.level);
        }
        if (std::strcmp(record.file, "camera.cpp") != 0 || record.line == 0) Fail("site %s:%u", record.file, record.line);
        const bool error = record.level == ACL_ERROR;
        const std::string line = twincam::test::Line(record.level, record.message);
        if (out.compare(pos, line.size(), line) != 0) {
            Fail("stdout '%s' does not carry the log record '%s'", out.c_str() + pos, record.message);
        }
        pos += line.size();
        errors += error ? 1 : 0;
    }
    if (pos != out.size()) Fail("stdout line without a log record: '%s'", out.c_str() + pos);
    return errors;
}

void CheckRegistry() {
    for (int32_t i = 0; i < kCameraCount; ++i) {
        const CameraRecord &r = g_CameraMgr.cameras[i];
        if (!r.initialized) {
            if (std::memcmp(&r, &g_pristine.cameras[i], sizeof r) != 0) Fail("record %d written but not filled", i);
            continue;
        }
        const int64_t size = static_cast<int64_t>(r.width) * r.height * 3 / 2;
        if (r.id != i || r.frameSize != size) {
            Fail("record %d: id %d, %dx%d, frame size %d", i, r.id, r.width, r.height, r.frameSize);
        }
    }
}

void AddFault(Input &in) {
    const auto op = static_cast<twincam_sim_op>(in.Byte() % (TWINCAM_SIM_OP_MALLOC + 1));
    const uint32_t nth = static_cast<uint32_t>(twincam_sim_call_count(op)) + 1 + in.Byte() % 4;
    int32_t value = 0;
    if (op == TWINCAM_SIM_OP_STATUS) value = in.Pick(kStatuses);
    if (op == TWINCAM_SIM_OP_READ) value = kReads[in.Byte() % 3];
    if (op == TWINCAM_SIM_OP_MALLOC) value = in.Pick(kAllocErrors);
    if (twincam_sim_fault(op, nth, value) != 0) Fail("fault refused");
}

// Frees the ith delivered frame, which must succeed.
void Release(std::vector<CameraFrame> &frames, size_t i) {
    if (acldvppFree(frames[i].data) != 0) Fail("a delivered frame could not be freed");
    frames.erase(frames.begin() + static_cast<std::ptrdiff_t>(i));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Unpaced, also after each reset of the stand-ins.
    setenv("TWINCAM_SIM_PACE", "0", 1);
    twincam_sim_set_pacing(0);
    twincam_sim_set_log_level(TWINCAM_SIM_LOG_NONE);
    std::memcpy(&g_pristine, &g_CameraMgr, sizeof g_pristine);
    // The library's report lines go to a memory file, read back step by step.
    g_stdoutFd = memfd_create("twincam-stdout", 0);
    if (g_stdoutFd < 0 || dup2(g_stdoutFd, STDOUT_FILENO) < 0) Fail("capturing stdout");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Each input starts from the state at load, so it replays alike.
    std::memcpy(&g_CameraMgr, &g_pristine, sizeof g_CameraMgr);
    twincam_sim_reset();
    NewStdout();
    size_t logSeen = 0;

    Input in(data, size);
    std::vector<CameraFrame> frames;
    int hugeReads = 0;
    for (int step = 0; step < kMaxSteps && !in.Empty(); ++step) {
        const uint8_t opcode = in.Byte() % 9;
        int32_t result = 0;
        bool reports = true;  // a failure of this operation is reported
        switch (opcode) {
            case 0:
                HwInit();
                reports = false;
                break;
            case 1:
            case 2:
            case 3: {
                const int32_t id = in.Pick(kIds), fps = in.Pick(kFps), w = in.Pick(kDims), h = in.Pick(kDims);
                using Operation = int32_t (*)(int32_t, int32_t, int32_t, int32_t);
                const Operation ops[] = {CameraInit, ConfigCamera, OpenCameraEx};
                result = ops[opcode - 1](id, fps, w, h);
                reports = opcode != 1;
                break;
            }
            case 4: {
                const int32_t id = in.Pick(kIds);
                if (id >= 0 && id < kCameraCount && g_CameraMgr.cameras[id].frameSize > kHugeFrame &&
                    ++hugeReads > kMaxHugeReads) {
                    break;
                }
                if (frames.size() == kMaxKept) Release(frames, 0);
                int sentinel = 0;
                CameraFrame frame = {-1, &sentinel};
                result = ReadCameraFrame(id, &frame);
                if (result == 0) {
                    const CameraRecord &r = g_CameraMgr.cameras[id];
                    if (frame.data == &sentinel || frame.size != r.frameSize) Fail("frame of %d bytes", frame.size);
                    frames.push_back(frame);
                } else if (frame.size != -1 || frame.data != &sentinel) {
                    Fail("a failed read wrote the frame record");
                }
                break;
            }
            case 5: result = ReadCameraFrame(in.Pick(kIds), nullptr); break;
            case 6: result = CloseCameraEx(in.Pick(kIds)); break;
            case 7:
                if (!frames.empty()) Release(frames, in.Byte() % frames.size());
                break;
            default: AddFault(in); break;
        }
        if (result != 0 && result != 1) Fail("step %d: result %d", step, result);
        const size_t errors = CheckReports(&logSeen);
        if (reports && result == 1 && errors == 0) Fail("step %d: opcode %u failed unreported", step, opcode);
        if (result == 0 && errors != 0) Fail("step %d: opcode %u succeeded with an error report", step, opcode);
        CheckRegistry();
        if (twincam_sim_live_buffers() != frames.size()) {
            Fail("step %d: %zu live buffers, %zu frames held", step, twincam_sim_live_buffers(), frames.size());
        }
    }
    while (!frames.empty()) Release(frames, 0);
    if (twincam_sim_live_buffers() != 0) Fail("%zu buffers left live", twincam_sim_live_buffers());
    return 0;
}
