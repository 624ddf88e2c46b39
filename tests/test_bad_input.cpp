// Bad input on every operation: ids across the 32-bit range, frame rates
// and resolutions at and beyond every limit, a null frame record. Each gets
// its result with a clear report (or is passed to the service, which
// refuses it), the registry holds only what fits, and nothing leaks.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <optional>
#include <ostream>

#include "support.h"

using twincam::test::Expected;
using twincam::test::Lines;
using twincam::test::Msg;
using twincam::test::R;
using twincam::test::Report;
using twincam::test::Sinks;

namespace {

struct Case {
    std::string name;
    std::function<void()> setup;  // unobserved
    std::function<int32_t(CameraFrame *)> run;
    int32_t result;
    Lines calls;
    std::vector<Report> reports;
    std::optional<CameraRecord> record0;  // record 0 afterwards, when the case writes it
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

std::string Str(int64_t v) { return std::to_string(v); }

// A name part gtest accepts: "Minus" for the sign.
std::string Part(int64_t v) { return v < 0 ? "Minus" + Str(-v) : Str(v); }

void OpenCamera0() {
    Sinks quiet;
    ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0);
}

const Lines kFirstOpen = {"MediaLibInit() = 1", "QueryCameraStatus(0) = 2", "OpenCamera(0) = 1"};

Lines Then(Lines lines, std::initializer_list<std::string> more) {
    lines.insert(lines.end(), more);
    return lines;
}

std::vector<Case> Generate() {
    std::vector<Case> cases;
    const int32_t badIds[] = {2, -1, INT32_MIN, INT32_MAX, 255};
    for (const int32_t id : badIds) {
        const std::string n = Part(id), s = Str(id);
        cases.push_back({"OpenId" + n, {}, [id](CameraFrame *) { return OpenCameraEx(id, 30, 64, 48); }, 1, {},
                         {R(Msg::OpenInvalidId, id)}, {}});
        cases.push_back({"ReadId" + n, OpenCamera0,
                         [id](CameraFrame *frame) { return ReadCameraFrame(id, frame); },
                         1, {}, {R(Msg::ReadInvalidId, id)}, {}});
        cases.push_back({"ReadIdWithNullRecord" + n, {}, [id](CameraFrame *) { return ReadCameraFrame(id, nullptr); }, 1, {},
                         {R(Msg::ReadInvalidId, id)}, {}});
        // These two hand the id to the service, which knows no such camera.
        cases.push_back({"ConfigId" + n, OpenCamera0, [id](CameraFrame *) { return ConfigCamera(id, 30, 64, 48); }, 1,
                         {"SetCameraProperty(" + s + ", FrameRate, 30) = 0"}, {R(Msg::FpsFailed)}, {}});
        cases.push_back({"CloseId" + n, OpenCamera0, [id](CameraFrame *) { return CloseCameraEx(id); }, 1,
                         {"CloseCamera(" + s + ") = 0"}, {R(Msg::CloseFailed, id)}, {}});
    }
    cases.push_back({"ReadNullRecord", OpenCamera0, [](CameraFrame *) { return ReadCameraFrame(0, nullptr); }, 1, {},
                     {R(Msg::ReadNullRecord, 0)}, {}});

    // Frame rates the service refuses: the open fails and closes the camera.
    const int32_t badFps[] = {0, -1, INT32_MIN, 241, INT32_MAX};
    for (const int32_t fps : badFps) {
        cases.push_back({"OpenFps" + Part(fps), {}, [fps](CameraFrame *) { return OpenCameraEx(0, fps, 64, 48); }, 1,
                         Then(kFirstOpen, {"SetCameraProperty(0, FrameRate, " + Str(fps) + ") = 0", "CloseCamera(0) = 1"}),
                         {R(Msg::FpsFailed), R(Msg::PropertyFailed, 0)}, {}});
    }
    for (const int32_t fps : {1, 240}) {
        cases.push_back({"OpenFps" + Part(fps), {}, [fps](CameraFrame *) { return OpenCameraEx(0, fps, 64, 48); }, 0,
                         Then(kFirstOpen, {"SetCameraProperty(0, FrameRate, " + Str(fps) + ") = 1",
                                           "SetCameraProperty(0, Resolution, 64x48) = 1", "SetCameraProperty(0, Mode, 1) = 1"}),
                         {R(Msg::OpenSuccess, 0)}, CameraRecord{true, 0, fps, 64, 48, 4608}});
    }

    struct Size {
        const char *name;
        int32_t width, height;
    };
    // Whose frame size fits: the library passes them on, the service refuses.
    const Size refused[] = {
        {"Zero", 0, 0},
        {"ZeroWidth", 0, 48},
        {"NegativeWidth", -2, 2},
        {"NegativeHeight", 2, -2},
        {"OddWidth", 3, 2},
        {"OddHeight", 64, 47},
        {"WiderThanTheSensor", 8194, 2},
        {"LargestSquareThatFits", 26754, 26754},
        {"LargestPixelCountThatFits", 715827882, 1},
        {"MostNegativeThatFits", -715827882, 1},
    };
    for (const Size &z : refused) {
        const std::string res = Str(z.width) + "x" + Str(z.height);
        cases.push_back({std::string("OpenSize") + z.name, {},
                         [z](CameraFrame *) { return OpenCameraEx(0, 30, z.width, z.height); }, 1,
                         Then(kFirstOpen, {"SetCameraProperty(0, FrameRate, 30) = 1",
                                           "SetCameraProperty(0, Resolution, " + res + ") = 0", "CloseCamera(0) = 1"}),
                         {R(Msg::ResolutionFailed), R(Msg::PropertyFailed, 0)}, {}});
    }
    // Whose frame size does not fit in 32 bits: refused before any call.
    const Size unsupported[] = {
        {"SmallestSquareThatOverflows", 26755, 26755},
        {"SmallestPixelCountThatOverflows", 715827883, 1},
        {"LeastNegativeThatOverflows", -715827883, 1},
        {"ProductPastInt32", 46341, 46341},
        {"ProductWrapsToZero", 65536, 65536},
        {"IntMax", INT32_MAX, INT32_MAX},
        {"IntMin", INT32_MIN, INT32_MIN},
        {"IntMinByMinusOne", INT32_MIN, -1},
    };
    for (const Size &z : unsupported) {
        cases.push_back({std::string("OpenSize") + z.name, {},
                         [z](CameraFrame *) { return OpenCameraEx(0, 30, z.width, z.height); }, 1, {},
                         {R(Msg::OpenUnsupported, 0, z.width, z.height)},
                         {}});
    }
    // The sensor's limits themselves are accepted.
    for (const Size &z : {Size{"Smallest", 2, 2}, Size{"Largest", 8192, 8192}}) {
        const std::string res = Str(z.width) + "x" + Str(z.height);
        const int32_t frameSize = z.width * z.height * 3 / 2;
        cases.push_back({std::string("OpenSize") + z.name, {},
                         [z](CameraFrame *) { return OpenCameraEx(0, 30, z.width, z.height); }, 0,
                         Then(kFirstOpen, {"SetCameraProperty(0, FrameRate, 30) = 1",
                                           "SetCameraProperty(0, Resolution, " + res + ") = 1",
                                           "SetCameraProperty(0, Mode, 1) = 1"}),
                         {R(Msg::OpenSuccess, 0)}, CameraRecord{true, 0, 30, z.width, z.height, frameSize}});
    }

    // ConfigCamera computes no frame size: every value goes to the service,
    // which refuses what its sensor cannot take; properties already set stay.
    const Size configured[] = {{"Zero", 0, 0}, {"Negative", -2, 2}, {"Odd", 63, 48},
                               {"Overflowing", 26755, 26755}, {"IntMin", INT32_MIN, INT32_MIN}};
    for (const Size &z : configured) {
        const std::string res = Str(z.width) + "x" + Str(z.height);
        cases.push_back({std::string("ConfigSize") + z.name, OpenCamera0,
                         [z](CameraFrame *) { return ConfigCamera(0, 30, z.width, z.height); }, 1,
                         {"SetCameraProperty(0, FrameRate, 30) = 1", "SetCameraProperty(0, Resolution, " + res + ") = 0"},
                         {R(Msg::ResolutionFailed)}, {}});
    }
    for (const int32_t fps : badFps) {
        cases.push_back({"ConfigFps" + Part(fps), OpenCamera0, [fps](CameraFrame *) { return ConfigCamera(0, fps, 64, 48); }, 1,
                         {"SetCameraProperty(0, FrameRate, " + Str(fps) + ") = 0"}, {R(Msg::FpsFailed)},
                         {}});
    }

    // A record holding a negative frame size: the size is sign-extended for
    // the allocator, which refuses it.
    cases.push_back({"ReadNegativeFrameSize", [] { ASSERT_EQ(CameraInit(0, 30, -2, 2), 0); },
                     [](CameraFrame *frame) { return ReadCameraFrame(0, frame); },
                     1, {"acldvppMalloc(18446744073709551610) = 200000"},
                     {R(Msg::MallocFailed, -6, 200000)},
                     CameraRecord{true, 0, 30, -2, 2, -6}});
    // The smallest frame goes through whole.
    cases.push_back({"ReadSmallestFrame", [] { ASSERT_EQ(OpenCameraEx(0, 30, 2, 2), 0); },
                     [](CameraFrame *frame) { return ReadCameraFrame(0, frame); },
                     0, {"acldvppMalloc(6) = 0 -> #1", "ReadFrameFromCamera(0, #1, 6) = 1 -> 6"},
                     {}, CameraRecord{true, 0, 30, 2, 2, 6}});
    return cases;
}

class BadInput : public testing::TestWithParam<Case> {};

TEST_P(BadInput, RefusedClearlyAndNothingLeaks) {
    const Case &c = GetParam();
    if (c.setup) c.setup();
    if (HasFatalFailure()) return;
    // An open with an id it refuses does not even initialise the service:
    // the checker holds hwInitialized to the calls made.
    twincam::test::Verify(c.run, Expected{c.result, c.calls, c.reports, c.record0, {}, 0});
}

INSTANTIATE_TEST_SUITE_P(, BadInput, testing::ValuesIn(Generate()),
                         [](const testing::TestParamInfo<Case> &info) { return info.param.name; });

}  // namespace
