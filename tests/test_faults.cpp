// Every way a platform call can fail, at every call each operation makes.
// The cases are generated from a table of the calls each operation makes on
// its way to success; each is checked by the one checker, and then the
// library must still work.
#include "support.h"

using namespace twincam::test;

namespace {

// Camera 0 before the operation: nothing done yet; opened and closed again;
// open. Every open is at 30 fps, 64x48 (a frame of 4608 bytes).
enum State { kFresh, kClosed, kOpen };
const char *const kStateNames[] = {"Fresh", "Closed", "Open"};

// One way a call fails: the value the stand-in is told to answer, how its
// journal line shows the failure and the value its report shows.
struct Kind {
    const char *name;
    int32_t value;
    const char *result;
    int32_t shown;
};
const std::vector<Kind> kError = {{"Error", 0, "0", 0}};
const std::vector<Kind> kStatus = {{"Status0", 0, "0", 0}, {"Status3", 3, "3", 3}, {"StatusMinus1", -1, "-1", -1},
                                   {"StatusIntMin", INT32_MIN, "-2147483648", INT32_MIN},
                                   {"StatusIntMax", INT32_MAX, "2147483647", INT32_MAX}};
const std::vector<Kind> kRead = {{"ReadError", TWINCAM_SIM_READ_FAIL, "0 -> 0", 0},
                                 {"ShortFrame", TWINCAM_SIM_READ_SHORT, "1 -> 4607", 4607},
                                 {"LongFrame", TWINCAM_SIM_READ_LONG, "1 -> 4609", 4609}};
const std::vector<Kind> kAlloc = {{"AllocBadAlloc", 0, "200000", 200000},
                                  {"AllocInvalidParam", ACL_ERROR_INVALID_PARAM, "100000", 100000},
                                  {"AllocMinus1", -1, "-1", -1}, {"AllocIntMin", INT32_MIN, "-2147483648", INT32_MIN}};

// The reports of a failure, given the value it shows.
using Reports = std::function<std::vector<Report>(int32_t shown)>;
Reports Fixed(std::vector<Report> reports) {
    return [reports](int32_t) { return reports; };
}
template <typename... Args>
Reports Showing(Msg m, Args... args) {
    return [=](int32_t shown) { return std::vector<Report>{R(m, args..., shown)}; };
}

// What the operation does after a failed call, beyond reporting; the
// cleanup call can fail too, which changes no result.
enum class Cleanup { None, CloseCamera, FreeBuffer };

// A call an operation makes on its way to success.
struct Site {
    const char *name;
    twincam_sim_op op;
    const char *call;  // its journal line, "{}" standing for the result
    const char *ok;    // the result when it succeeds
    std::vector<Kind> kinds;
    Reports reports;
    Cleanup cleanup = Cleanup::None;
    Lines then = {};  // calls that follow the failure, before any cleanup
};

std::string Fill(std::string text, const char *value) { return text.replace(text.find("{}"), 2, value); }

std::vector<Site> Properties(bool insideOpen) {
    auto reports = [insideOpen](Report first) {
        return insideOpen ? Fixed({first, R(Msg::PropertyFailed, 0)}) : Fixed({first});
    };
    const Cleanup cleanup = insideOpen ? Cleanup::CloseCamera : Cleanup::None;
    const auto op = TWINCAM_SIM_OP_SETPROP;
    return {{"SetFrameRate", op, "SetCameraProperty(0, FrameRate, 30) = {}", "1", kError, reports(R(Msg::FpsFailed)), cleanup},
            {"SetResolution", op, "SetCameraProperty(0, Resolution, 64x48) = {}", "1", kError, reports(R(Msg::ResolutionFailed)),
             cleanup},
            {"SetMode", op, "SetCameraProperty(0, Mode, 1) = {}", "1", kError, reports(R(Msg::ModeFailed, 1)), cleanup}};
}

// The calls of OpenCameraEx(0, 30, 64, 48) from each state.
std::vector<Site> OpenSites(State state) {
    std::vector<Site> sites;
    // A failed initialisation is not examined: the uninitialised service
    // then has no valid status to give.
    if (state == kFresh) {
        sites.push_back({"MediaLibInit", TWINCAM_SIM_OP_INIT, "MediaLibInit() = {}", "1", kError,
                         Fixed({R(Msg::InvalidStatus, 0, 0)}), Cleanup::None, {"QueryCameraStatus(0) = 0"}});
    }
    sites.push_back({"QueryCameraStatus", TWINCAM_SIM_OP_STATUS, "QueryCameraStatus(0) = {}", state == kOpen ? "1" : "2", kStatus,
                     Showing(Msg::InvalidStatus, 0)});
    if (state != kOpen) {
        sites.push_back({"OpenCamera", TWINCAM_SIM_OP_OPEN, "OpenCamera(0) = {}", "1", kError, Fixed({R(Msg::OpenRefused, 0)})});
    }
    for (Site &s : Properties(true)) sites.push_back(std::move(s));
    return sites;
}

struct Script {
    const char *operation;
    State state;
    Call call;
    std::vector<Site> sites;
};

const std::vector<Script> &Scripts() {
    static const std::vector<Script> scripts = {
        {"HwInit", kFresh, [](CameraFrame *) { return HwInit(), 0; },
         {{"MediaLibInit", TWINCAM_SIM_OP_INIT, "MediaLibInit() = {}", "1", kError, Fixed({})}}},
        {"CameraInit", kFresh, [](CameraFrame *) { return CameraInit(0, 30, 64, 48); }, {}},
        {"ConfigCamera", kOpen, Configuring(0, 30, 64, 48), Properties(false)},
        {"OpenCameraEx", kFresh, Opening(0, 30, 64, 48), OpenSites(kFresh)},
        {"OpenCameraEx", kClosed, Opening(0, 30, 64, 48), OpenSites(kClosed)},
        {"OpenCameraEx", kOpen, Opening(0, 30, 64, 48), OpenSites(kOpen)},
        {"ReadCameraFrame", kOpen, Reading(0),
         {{"acldvppMalloc", TWINCAM_SIM_OP_MALLOC, "acldvppMalloc(4608) = {}", "0 -> #1", kAlloc, Showing(Msg::MallocFailed, 4608)},
          {"ReadFrameFromCamera", TWINCAM_SIM_OP_READ, "ReadFrameFromCamera(0, #1, 4608) = {}", "1 -> 4608", kRead,
           Showing(Msg::ReadFailed, 0), Cleanup::FreeBuffer}}},
        {"CloseCameraEx", kOpen, Closing(0),
         {{"CloseCamera", TWINCAM_SIM_OP_CLOSE, "CloseCamera(0) = {}", "1", kError, Fixed({R(Msg::CloseFailed, 0)})}}},
    };
    return scripts;
}

// Enters the state, then schedules the faults.
std::function<void()> Setup(State state, std::vector<Fault> faults) {
    return [state, faults] {
        if (state != kFresh) Open0();
        if (state == kClosed) {
            ASSERT_EQ(CloseCameraEx(0), 0);
        }
        ASSERT_TRUE(ScheduleFaults(faults));
    };
}

std::vector<Case> Generate() {
    std::vector<Case> cases;
    for (const Script &script : Scripts()) {
        const std::string stem = std::string(script.operation) + "_" + kStateNames[script.state];
        const bool opens = stem.rfind("OpenCameraEx", 0) == 0;
        Case nominal{stem, Setup(script.state, {}), script.call, {0, {}, {}, {}, script.state == kOpen}};
        if (opens) nominal.expected = {0, {}, {R(Msg::OpenSuccess, 0)}, {}, true};
        if (stem == "CloseCameraEx_Open") nominal.expected.open = false;
        // Only a first successful open (or CameraInit itself) fills the record.
        if (script.state == kFresh && (opens || stem == "CameraInit_Fresh")) {
            nominal.expected.record = CameraRecord{true, 0, 30, 64, 48, 4608};
        }
        for (const Site &site : script.sites) nominal.expected.calls.push_back(Fill(site.call, site.ok));
        cases.push_back(nominal);

        for (size_t i = 0; i < script.sites.size(); ++i) {
            const Site &site = script.sites[i];
            uint32_t nth = 1;
            for (size_t j = 0; j < i; ++j) nth += script.sites[j].op == site.op ? 1 : 0;
            for (const Kind &kind : site.kinds) {
                Case c = nominal;
                c.name = stem + "_" + site.name + "_" + kind.name;
                c.setup = Setup(script.state, {{site.op, nth, kind.value}});
                Lines calls(nominal.expected.calls.begin(), nominal.expected.calls.begin() + static_cast<std::ptrdiff_t>(i));
                calls.push_back(Fill(site.call, kind.result));
                calls.insert(calls.end(), site.then.begin(), site.then.end());
                c.expected = {script.operation == std::string("HwInit") ? 0 : 1, calls, site.reports(kind.shown), {},
                              script.state == kOpen};
                if (site.cleanup == Cleanup::None) {
                    cases.push_back(c);
                    continue;
                }
                Case refused = c;
                if (site.cleanup == Cleanup::CloseCamera) {
                    c.expected.calls.push_back("CloseCamera(0) = 1");
                    c.expected.open = false;
                    refused.name += "_AndCloseFails";
                    refused.setup = Setup(script.state, {{site.op, nth, kind.value}, {TWINCAM_SIM_OP_CLOSE, 1, 0}});
                    refused.expected.calls.push_back("CloseCamera(0) = 0");
                    refused.expected.open = true;
                } else {
                    c.expected.calls.push_back("acldvppFree(#1) = 0");
                    refused.name += "_AndFreeFails";
                    refused.setup = Setup(script.state, {{site.op, nth, kind.value}, {TWINCAM_SIM_OP_FREE, 1, 0}});
                    refused.expected.calls.push_back("acldvppFree(#1) = 100000");
                    refused.expected.live = 1;  // the buffer the runtime would not free
                }
                cases.push_back(c);
                cases.push_back(refused);
            }
        }
    }
    return cases;
}

class Faults : public testing::TestWithParam<Case> {};

TEST_P(Faults, AtEveryCallOfEveryOperation) {
    const Case &c = GetParam();
    twincam::test::Run(c);
    if (HasFatalFailure()) return;
    // And the library goes on working, but for a failed initialisation,
    // which is never retried.
    twincam_sim_clear_faults();
    Sinks quiet;
    if (!c.expected.calls.empty() && c.expected.calls[0] == "MediaLibInit() = 0") {
        const uint64_t inits = twincam_sim_call_count(TWINCAM_SIM_OP_INIT);
        EXPECT_EQ(OpenCameraEx(0, 30, 64, 48), 1);
        EXPECT_EQ(twincam_sim_call_count(TWINCAM_SIM_OP_INIT), inits);
        return;
    }
    ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0);
    CameraFrame next{};
    ASSERT_EQ(ReadCameraFrame(0, &next), 0);
    EXPECT_EQ(next.size, 4608);
    EXPECT_EQ(acldvppFree(next.data), 0);
    EXPECT_EQ(twincam_sim_live_buffers(), c.expected.live);
}

INSTANTIATE_TEST_SUITE_P(, Faults, testing::ValuesIn(Generate()), CaseName);

}  // namespace
