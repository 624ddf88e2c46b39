// Every way a platform call can fail, at every call each operation makes.
// The cases are generated from a table of the calls each operation makes on
// its way to success; each case checks the result, the calls that follow
// the failure, both report sinks, the registry, the camera's state on the
// service and the live dvpp buffers, and then that the library still works.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>

#include "support.h"

using twincam::test::Expected;
using twincam::test::Fault;
using twincam::test::Lines;
using twincam::test::Msg;
using twincam::test::R;
using twincam::test::Report;
using twincam::test::Sinks;

namespace {

enum class Operation { HwInit, CameraInit, ConfigCamera, OpenCameraEx, ReadCameraFrame, CloseCameraEx };

const char *Name(Operation op) {
    switch (op) {
        case Operation::HwInit: return "HwInit";
        case Operation::CameraInit: return "CameraInit";
        case Operation::ConfigCamera: return "ConfigCamera";
        case Operation::OpenCameraEx: return "OpenCameraEx";
        case Operation::ReadCameraFrame: return "ReadCameraFrame";
        case Operation::CloseCameraEx: return "CloseCameraEx";
    }
    return "?";
}

// Camera 0 before the operation: nothing done yet; opened and closed again;
// open. Every open is at 30 fps, 64x48 (a frame of 4608 bytes).
enum class State { Fresh, Closed, Open };

const char *Name(State state) {
    switch (state) {
        case State::Fresh: return "Fresh";
        case State::Closed: return "Closed";
        case State::Open: return "Open";
    }
    return "?";
}

// One way a call fails: the value the stand-in is told to answer, how its
// journal line shows the failure and the value its report shows.
struct Kind {
    const char *name;
    int32_t value;
    const char *result;
    int32_t shown;
};

const std::vector<Kind> kError = {{"Error", 0, "0", 0}};
const std::vector<Kind> kStatus = {
    {"Status0", 0, "0", 0},
    {"Status3", 3, "3", 3},
    {"StatusMinus1", -1, "-1", -1},
    {"StatusIntMin", INT32_MIN, "-2147483648", INT32_MIN},
    {"StatusIntMax", INT32_MAX, "2147483647", INT32_MAX},
};
const std::vector<Kind> kRead = {
    {"ReadError", TWINCAM_SIM_READ_FAIL, "0 -> 0", 0},
    {"ShortFrame", TWINCAM_SIM_READ_SHORT, "1 -> 4607", 4607},
    {"LongFrame", TWINCAM_SIM_READ_LONG, "1 -> 4609", 4609},
};
const std::vector<Kind> kAlloc = {
    {"AllocBadAlloc", 0, "200000", 200000},
    {"AllocInvalidParam", ACL_ERROR_INVALID_PARAM, "100000", 100000},
    {"AllocMinus1", -1, "-1", -1},
    {"AllocIntMin", INT32_MIN, "-2147483648", INT32_MIN},
};

// The reports of a failure, given the value it shows.
using Reports = std::function<std::vector<Report>(int32_t shown)>;

// What the operation does after a failed call, beyond reporting.
enum class Cleanup { None, CloseCamera, FreeBuffer };

// A call an operation makes on its way to success.
struct Site {
    const char *name;
    twincam_sim_op op;
    const char *ok;      // its journal line when it succeeds
    const char *failed;  // and when it fails, "{}" standing for the kind's result
    std::vector<Kind> kinds;
    Reports reports;
    Cleanup cleanup;
    Lines then = {};  // calls that follow the failure, before any cleanup
};

struct Script {
    Operation operation;
    State state;
    std::vector<Site> sites;
    std::vector<Report> success;
};

std::vector<Site> Properties(bool insideOpen) {
    auto reports = [insideOpen](Report first) -> Reports {
        return [insideOpen, first](int32_t) {
            std::vector<Report> r = {first};
            if (insideOpen) r.push_back(R(Msg::PropertyFailed, 0));
            return r;
        };
    };
    const Cleanup cleanup = insideOpen ? Cleanup::CloseCamera : Cleanup::None;
    return {
        {"SetFrameRate", TWINCAM_SIM_OP_SETPROP, "SetCameraProperty(0, FrameRate, 30) = 1",
         "SetCameraProperty(0, FrameRate, 30) = {}", kError, reports(R(Msg::FpsFailed)), cleanup},
        {"SetResolution", TWINCAM_SIM_OP_SETPROP, "SetCameraProperty(0, Resolution, 64x48) = 1",
         "SetCameraProperty(0, Resolution, 64x48) = {}", kError, reports(R(Msg::ResolutionFailed)), cleanup},
        {"SetMode", TWINCAM_SIM_OP_SETPROP, "SetCameraProperty(0, Mode, 1) = 1", "SetCameraProperty(0, Mode, 1) = {}",
         kError, reports(R(Msg::ModeFailed, 1)), cleanup},
    };
}

// The calls of OpenCameraEx(0, 30, 64, 48) from each state.
std::vector<Site> OpenSites(State state) {
    std::vector<Site> sites;
    if (state == State::Fresh) {
        // The failure is not examined: the uninitialised service then has no
        // valid status to give.
        sites.push_back({"MediaLibInit", TWINCAM_SIM_OP_INIT, "MediaLibInit() = 1", "MediaLibInit() = {}", kError,
                         [](int32_t) { return std::vector<Report>{R(Msg::InvalidStatus, 0, 0)}; }, Cleanup::None,
                         {"QueryCameraStatus(0) = 0"}});
    }
    const bool open = state == State::Open;
    sites.push_back({"QueryCameraStatus", TWINCAM_SIM_OP_STATUS,
                     open ? "QueryCameraStatus(0) = 1" : "QueryCameraStatus(0) = 2", "QueryCameraStatus(0) = {}",
                     kStatus, [](int32_t v) { return std::vector<Report>{R(Msg::InvalidStatus, 0, v)}; }, Cleanup::None});
    if (!open) {
        sites.push_back({"OpenCamera", TWINCAM_SIM_OP_OPEN, "OpenCamera(0) = 1", "OpenCamera(0) = {}", kError,
                         [](int32_t) { return std::vector<Report>{R(Msg::OpenRefused, 0)}; }, Cleanup::None});
    }
    for (Site &s : Properties(true)) sites.push_back(std::move(s));
    return sites;
}

const std::vector<Script> &Scripts() {
    static const std::vector<Script> scripts = {
        {Operation::HwInit, State::Fresh,
         {{"MediaLibInit", TWINCAM_SIM_OP_INIT, "MediaLibInit() = 1", "MediaLibInit() = {}", kError,
           [](int32_t) { return std::vector<Report>{}; }, Cleanup::None}},
         {}},
        {Operation::CameraInit, State::Fresh, {}, {}},
        {Operation::ConfigCamera, State::Open, Properties(false), {}},
        {Operation::OpenCameraEx, State::Fresh, OpenSites(State::Fresh),
         {R(Msg::OpenSuccess, 0)}},
        {Operation::OpenCameraEx, State::Closed, OpenSites(State::Closed),
         {R(Msg::OpenSuccess, 0)}},
        {Operation::OpenCameraEx, State::Open, OpenSites(State::Open),
         {R(Msg::OpenSuccess, 0)}},
        {Operation::ReadCameraFrame, State::Open,
         {{"acldvppMalloc", TWINCAM_SIM_OP_MALLOC, "acldvppMalloc(4608) = 0 -> #1", "acldvppMalloc(4608) = {}",
           kAlloc, [](int32_t v) { return std::vector<Report>{R(Msg::MallocFailed, 4608, v)}; }, Cleanup::None},
          {"ReadFrameFromCamera", TWINCAM_SIM_OP_READ, "ReadFrameFromCamera(0, #1, 4608) = 1 -> 4608",
           "ReadFrameFromCamera(0, #1, 4608) = {}", kRead,
           [](int32_t v) { return std::vector<Report>{R(Msg::ReadFailed, 0, v)}; }, Cleanup::FreeBuffer}},
         {}},
        {Operation::CloseCameraEx, State::Open,
         {{"CloseCamera", TWINCAM_SIM_OP_CLOSE, "CloseCamera(0) = 1", "CloseCamera(0) = {}", kError,
           [](int32_t) { return std::vector<Report>{R(Msg::CloseFailed, 0)}; }, Cleanup::None}},
         {}},
    };
    return scripts;
}

struct Case {
    std::string name;
    Operation operation;
    State state;
    std::vector<Fault> faults;
    int32_t result;
    Lines calls;
    std::vector<Report> reports;
    bool openAfter;
    size_t refusedFrees;  // buffers the runtime would not free
    bool initFailed;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

std::string Fill(std::string text, const char *value) {
    const size_t at = text.find("{}");
    if (at != std::string::npos) text.replace(at, 2, value);
    return text;
}

std::vector<Case> Generate() {
    std::vector<Case> cases;
    for (const Script &script : Scripts()) {
        const std::string stem = std::string(Name(script.operation)) + "_" + Name(script.state);
        const bool openBefore = script.state == State::Open;
        Case nominal{stem, script.operation, script.state, {}, 0, {}, script.success, openBefore, 0, false};
        if (script.operation == Operation::OpenCameraEx) nominal.openAfter = true;
        if (script.operation == Operation::CloseCameraEx) nominal.openAfter = false;
        for (const Site &site : script.sites) nominal.calls.push_back(site.ok);
        cases.push_back(nominal);

        for (size_t i = 0; i < script.sites.size(); ++i) {
            const Site &site = script.sites[i];
            uint32_t nth = 1;
            for (size_t j = 0; j < i; ++j) nth += script.sites[j].op == site.op ? 1 : 0;
            for (const Kind &kind : site.kinds) {
                Case c = nominal;
                c.name = stem + "_" + site.name + "_" + kind.name;
                c.faults = {{site.op, nth, kind.value}};
                c.result = script.operation == Operation::HwInit ? 0 : 1;
                c.calls.assign(nominal.calls.begin(), nominal.calls.begin() + static_cast<std::ptrdiff_t>(i));
                c.calls.push_back(Fill(site.failed, kind.result));
                c.calls.insert(c.calls.end(), site.then.begin(), site.then.end());
                c.reports = site.reports(kind.shown);
                c.openAfter = openBefore;
                c.initFailed = site.op == TWINCAM_SIM_OP_INIT;
                if (site.cleanup == Cleanup::None) {
                    cases.push_back(c);
                    continue;
                }
                // The cleanup call can fail too; the result stays the same.
                Case refused = c;
                refused.name += site.cleanup == Cleanup::CloseCamera ? "_AndCloseFails" : "_AndFreeFails";
                if (site.cleanup == Cleanup::CloseCamera) {
                    c.calls.push_back("CloseCamera(0) = 1");
                    c.openAfter = false;
                    refused.faults.push_back({TWINCAM_SIM_OP_CLOSE, 1, 0});
                    refused.calls.push_back("CloseCamera(0) = 0");
                    refused.openAfter = true;
                } else {
                    c.calls.push_back("acldvppFree(#1) = 0");
                    refused.faults.push_back({TWINCAM_SIM_OP_FREE, 1, 0});
                    refused.calls.push_back("acldvppFree(#1) = 100000");
                    refused.refusedFrees = 1;
                }
                cases.push_back(c);
                cases.push_back(refused);
            }
        }
    }
    return cases;
}

void Enter(State state) {
    if (state == State::Fresh) return;
    ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0);
    if (state == State::Closed) {
        ASSERT_EQ(CloseCameraEx(0), 0);
    }
}

class Faults : public testing::TestWithParam<Case> {};

TEST_P(Faults, AtEveryCallOfEveryOperation) {
    const Case &c = GetParam();
    Enter(c.state);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(twincam::test::ScheduleFaults(c.faults));
    const uint64_t inits = twincam_sim_call_count(TWINCAM_SIM_OP_INIT);

    // Only a first successful open (or CameraInit itself) fills the record.
    std::optional<CameraRecord> record0;
    if (c.result == 0 && !g_CameraMgr.cameras[0].initialized &&
        (c.operation == Operation::CameraInit || c.operation == Operation::OpenCameraEx)) {
        record0 = CameraRecord{true, 0, 30, 64, 48, 4608};
    }
    twincam::test::Verify(
        [&](CameraFrame *frame) {
            switch (c.operation) {
                case Operation::HwInit: HwInit(); return 0;
                case Operation::CameraInit: return CameraInit(0, 30, 64, 48);
                case Operation::ConfigCamera: return ConfigCamera(0, 30, 64, 48);
                case Operation::OpenCameraEx: return OpenCameraEx(0, 30, 64, 48);
                case Operation::ReadCameraFrame: return ReadCameraFrame(0, frame);
                case Operation::CloseCameraEx: return CloseCameraEx(0);
            }
            return -1;
        },
        Expected{c.result, c.calls, c.reports, record0, c.openAfter, c.refusedFrees});

    // And the library goes on working, but for a failed initialisation,
    // which is never retried.
    twincam_sim_clear_faults();
    {
        Sinks quiet;
        if (c.initFailed) {
            EXPECT_EQ(OpenCameraEx(0, 30, 64, 48), 1);
            EXPECT_EQ(twincam_sim_call_count(TWINCAM_SIM_OP_INIT), inits + 1);
            return;
        }
        ASSERT_EQ(OpenCameraEx(0, 30, 64, 48), 0);
        CameraFrame next{};
        ASSERT_EQ(ReadCameraFrame(0, &next), 0);
        EXPECT_EQ(next.size, 4608);
        EXPECT_EQ(acldvppFree(next.data), 0);
    }
    EXPECT_EQ(twincam_sim_live_buffers(), c.refusedFrees);
}

INSTANTIATE_TEST_SUITE_P(, Faults, testing::ValuesIn(Generate()),
                         [](const testing::TestParamInfo<Case> &info) { return info.param.name; });

}  // namespace
