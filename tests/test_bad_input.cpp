// Bad input on every operation: ids across the 32-bit range, frame rates
// and resolutions at and beyond every limit, a null frame record. Each gets
// its result with a clear report (or is passed to the service, which
// refuses it), the registry holds only what fits, and nothing leaks. An
// open with an id it refuses does not even initialise the service.
#include <climits>

#include "support.h"

using namespace twincam::test;

namespace {

std::string Str(int64_t v) { return std::to_string(v); }
// A name part gtest accepts: "Minus" for the sign.
std::string Part(int64_t v) { return v < 0 ? "Minus" + Str(-v) : Str(v); }

// The first open's calls up to the properties, then more.
Lines FirstOpen(std::initializer_list<std::string> more) {
    Lines lines = {"MediaLibInit() = 1", "QueryCameraStatus(0) = 2", "OpenCamera(0) = 1"};
    lines.insert(lines.end(), more);
    return lines;
}
std::string Prop(const char *name, const std::string &value, int ok) {
    return std::string("SetCameraProperty(0, ") + name + ", " + value + ") = " + Str(ok);
}

struct Size {
    const char *name;
    int32_t width, height;
    std::string Text() const { return Str(width) + "x" + Str(height); }
};

std::vector<Case> Generate() {
    std::vector<Case> cases;
    auto add = [&](std::string name, std::function<void()> setup, Call call, int32_t result,
                   Lines calls, std::vector<Report> reports, std::optional<CameraRecord> record = {}) {
        cases.push_back({std::move(name), std::move(setup), std::move(call), {result, std::move(calls), std::move(reports), record}});
    };
    for (const int32_t id : {2, -1, INT32_MIN, INT32_MAX, 255}) {
        const std::string n = Part(id), s = Str(id);
        add("OpenId" + n, {}, Opening(id, 30, 64, 48), 1, {}, {R(Msg::OpenInvalidId, id)});
        add("ReadId" + n, Open0, Reading(id), 1, {}, {R(Msg::ReadInvalidId, id)});
        add("ReadIdWithNullRecord" + n, {}, ReadingNull(id), 1, {},
            {R(Msg::ReadInvalidId, id)});
        // These two hand the id to the service, which knows no such camera.
        add("ConfigId" + n, Open0, Configuring(id, 30, 64, 48), 1,
            {"SetCameraProperty(" + s + ", FrameRate, 30) = 0"}, {R(Msg::FpsFailed)});
        add("CloseId" + n, Open0, Closing(id), 1, {"CloseCamera(" + s + ") = 0"},
            {R(Msg::CloseFailed, id)});
    }
    add("ReadNullRecord", Open0, ReadingNull(0), 1, {}, {R(Msg::ReadNullRecord, 0)});

    // Frame rates the service refuses: the open fails and closes the camera;
    // its limits are accepted.
    const int32_t badFps[] = {0, -1, INT32_MIN, 241, INT32_MAX};
    for (const int32_t fps : badFps) {
        add("OpenFps" + Part(fps), {}, Opening(0, fps, 64, 48), 1,
            FirstOpen({Prop("FrameRate", Str(fps), 0), "CloseCamera(0) = 1"}), {R(Msg::FpsFailed), R(Msg::PropertyFailed, 0)});
        add("ConfigFps" + Part(fps), Open0, Configuring(0, fps, 64, 48), 1,
            {Prop("FrameRate", Str(fps), 0)}, {R(Msg::FpsFailed)});
    }
    for (const int32_t fps : {1, 240}) {
        add("OpenFps" + Part(fps), {}, Opening(0, fps, 64, 48), 0,
            FirstOpen({Prop("FrameRate", Str(fps), 1), Prop("Resolution", "64x48", 1), Prop("Mode", "1", 1)}),
            {R(Msg::OpenSuccess, 0)}, CameraRecord{true, 0, fps, 64, 48, 4608});
    }

    // Whose frame size fits: the library passes them on, the service refuses.
    const Size refused[] = {
        {"Zero", 0, 0},           {"ZeroWidth", 0, 48},  {"NegativeWidth", -2, 2},  {"NegativeHeight", 2, -2},
        {"OddWidth", 3, 2},       {"OddHeight", 64, 47}, {"WiderThanTheSensor", 8194, 2},
        {"LargestSquareThatFits", 26754, 26754},         {"LargestPixelCountThatFits", 715827882, 1},
        {"MostNegativeThatFits", -715827882, 1},
    };
    for (const Size &z : refused) {
        add(std::string("OpenSize") + z.name, {}, Opening(0, 30, z.width, z.height), 1,
            FirstOpen({Prop("FrameRate", "30", 1), Prop("Resolution", z.Text(), 0), "CloseCamera(0) = 1"}),
            {R(Msg::ResolutionFailed), R(Msg::PropertyFailed, 0)});
    }
    // Whose frame size does not fit in 32 bits: refused before any call.
    const Size unsupported[] = {
        {"SmallestSquareThatOverflows", 26755, 26755}, {"SmallestPixelCountThatOverflows", 715827883, 1},
        {"LeastNegativeThatOverflows", -715827883, 1}, {"ProductPastInt32", 46341, 46341},
        {"ProductWrapsToZero", 65536, 65536},          {"IntMax", INT32_MAX, INT32_MAX},
        {"IntMin", INT32_MIN, INT32_MIN},              {"IntMinByMinusOne", INT32_MIN, -1},
    };
    for (const Size &z : unsupported) {
        add(std::string("OpenSize") + z.name, {}, Opening(0, 30, z.width, z.height), 1, {},
            {R(Msg::OpenUnsupported, 0, z.width, z.height)});
    }
    // The sensor's limits themselves are accepted.
    for (const Size &z : {Size{"Smallest", 2, 2}, Size{"Largest", 8192, 8192}}) {
        add(std::string("OpenSize") + z.name, {}, Opening(0, 30, z.width, z.height), 0,
            FirstOpen({Prop("FrameRate", "30", 1), Prop("Resolution", z.Text(), 1), Prop("Mode", "1", 1)}), {R(Msg::OpenSuccess, 0)},
            CameraRecord{true, 0, 30, z.width, z.height, z.width * z.height * 3 / 2});
    }

    // ConfigCamera computes no frame size: every value goes to the service,
    // which refuses what its sensor cannot take; properties already set stay.
    const Size configured[] = {
        {"Zero", 0, 0}, {"Negative", -2, 2}, {"Odd", 63, 48}, {"Overflowing", 26755, 26755}, {"IntMin", INT32_MIN, INT32_MIN}};
    for (const Size &z : configured) {
        add(std::string("ConfigSize") + z.name, Open0, Configuring(0, 30, z.width, z.height), 1,
            {Prop("FrameRate", "30", 1), Prop("Resolution", z.Text(), 0)}, {R(Msg::ResolutionFailed)});
    }

    // A record holding a negative frame size: the size is sign-extended for
    // the allocator, which refuses it. The smallest frame goes through whole.
    add("ReadNegativeFrameSize", [] { ASSERT_EQ(CameraInit(0, 30, -2, 2), 0); }, Reading(0), 1,
        {"acldvppMalloc(18446744073709551610) = 200000"}, {R(Msg::MallocFailed, -6, 200000)}, CameraRecord{true, 0, 30, -2, 2, -6});
    add("ReadSmallestFrame", [] { ASSERT_EQ(OpenCameraEx(0, 30, 2, 2), 0); }, Reading(0), 0,
        {"acldvppMalloc(6) = 0 -> #1", "ReadFrameFromCamera(0, #1, 6) = 1 -> 6"}, {}, CameraRecord{true, 0, 30, 2, 2, 6});
    return cases;
}

TWINCAM_CASES(BadInput, RefusedClearlyAndNothingLeaks, Generate());

}  // namespace
