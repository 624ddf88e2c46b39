// The stand-in platform behaves like a plausible device: it refuses what a
// sensor or allocator would refuse and never crashes on a bad pointer.
#include <cstdlib>

#include "support.h"

using namespace twincam::test;

namespace {

class Sim : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(MediaLibInit(), 1);
        ASSERT_EQ(OpenCamera(0), 1);
    }
    static int32_t Set(int32_t property, int32_t a, int32_t b = 0) {
        CameraResolution r{a, b};
        return SetCameraProperty(0, property, property == Resolution ? static_cast<void *>(&r) : &a);
    }
};

TEST_F(Sim, SensorLimits) {
    const int32_t cases[][4] = {
        // property, value(s), accepted
        {FrameRate, 1, 0, 1},        {FrameRate, 240, 0, 1},    {FrameRate, 0, 0, 0},      {FrameRate, 241, 0, 0},
        {FrameRate, -30, 0, 0},      {Resolution, 2, 2, 1},     {Resolution, 8192, 8192, 1}, {Resolution, 8194, 2, 0},
        {Resolution, 2, 8194, 0},    {Resolution, 641, 480, 0}, {Resolution, 640, 481, 0}, {Resolution, 0, 480, 0},
        {Resolution, -640, 480, 0},  {Mode, 1, 0, 1},           {Mode, 0, 0, 0},           {Mode, 2, 0, 0},
        {3, 1, 0, 0},
    };
    for (const auto &c : cases) EXPECT_EQ(Set(c[0], c[1], c[2]), c[3]) << c[0] << ": " << c[1] << " " << c[2];
    EXPECT_EQ(CameraInfo(0).fps, 240) << "keeps the last accepted value";
    EXPECT_EQ(CameraInfo(0).width, 8192);
}

TEST_F(Sim, StatusFollowsOpenAndClose) {
    EXPECT_EQ(QueryCameraStatus(0), Open);
    EXPECT_EQ(QueryCameraStatus(1), Closed);
    EXPECT_EQ(CloseCamera(0), 1);
    EXPECT_EQ(QueryCameraStatus(0), Closed);
    EXPECT_EQ(CloseCamera(0), 0) << "closing a closed camera is refused";
    EXPECT_EQ(Set(FrameRate, 30), 0) << "a closed camera takes no properties";
}

TEST_F(Sim, UnknownCameraHasNoValidStatusAndRefusesEverything) {
    for (int32_t id : {2, -1, 255}) {
        const int32_t status = QueryCameraStatus(id);
        EXPECT_NE(status, Open);
        EXPECT_NE(status, Closed);
        EXPECT_EQ(OpenCamera(id), 0);
        int32_t fps = 30;
        EXPECT_EQ(SetCameraProperty(id, FrameRate, &fps), 0);
        EXPECT_EQ(CloseCamera(id), 0);
    }
}

TEST_F(Sim, ReadsNeedRoomForAWholeFrame) {
    ASSERT_EQ(Set(Resolution, 4, 2), 1);
    std::vector<uint8_t> buffer(64, 0xEE);
    int32_t size = 11;
    EXPECT_EQ(ReadFrameFromCamera(0, buffer.data(), &size), 0);
    size = 64;
    EXPECT_EQ(ReadFrameFromCamera(0, buffer.data(), &size), 1);
    EXPECT_EQ(size, 12);
    EXPECT_EQ(buffer[12], 0xEE) << "nothing written past the frame";
    EXPECT_EQ(ReadFrameFromCamera(0, nullptr, &size), 0);
    EXPECT_EQ(ReadFrameFromCamera(0, buffer.data(), nullptr), 0);
    size = 64;
    EXPECT_EQ(ReadFrameFromCamera(1, buffer.data(), &size), 0) << "camera 1 is closed";
}

TEST(SimService, NothingWorksBeforeInitialisation) {
    EXPECT_NE(QueryCameraStatus(0), Closed);
    EXPECT_EQ(OpenCamera(0), 0);
    ASSERT_EQ(MediaLibInit(), 1);
    EXPECT_EQ(MediaLibInit(), 1) << "a second initialisation is harmless";
    EXPECT_EQ(QueryCameraStatus(0), Closed);
}

TEST(SimMemory, CountsLiveBuffersAndRefusesForeignPointers) {
    void *a = nullptr, *b = nullptr, *c = nullptr;
    ASSERT_EQ(acldvppMalloc(&a, 100), 0);
    ASSERT_EQ(acldvppMalloc(&b, 4000), 0);
    EXPECT_EQ(twincam_sim_live_buffers(), 2u);
    EXPECT_EQ(twincam_sim_live_bytes(), 4100u);
    int local = 0;
    void *const foreign[] = {&local, nullptr, static_cast<char *>(a) + 1};
    for (void *p : foreign) EXPECT_NE(acldvppFree(p), 0);
    EXPECT_EQ(acldvppFree(a), 0);
    EXPECT_NE(acldvppFree(a), 0) << "double free refused";
    EXPECT_EQ(acldvppFree(b), 0);
    EXPECT_EQ(twincam_sim_live_buffers(), 0u);
    EXPECT_EQ(twincam_sim_peak_buffers(), 2u);
    EXPECT_EQ(acldvppMalloc(&c, 0), ACL_ERROR_INVALID_PARAM);
    EXPECT_EQ(acldvppMalloc(&c, UINT64_MAX), ACL_ERROR_BAD_ALLOC);
    EXPECT_EQ(acldvppMalloc(nullptr, 16), ACL_ERROR_INVALID_PARAM);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(Calls()[0], "acldvppMalloc(100) = 0 -> #1");
    EXPECT_EQ(Calls()[3], "acldvppFree(?) = 100000");
}

TEST(SimMemory, FreedBuffersAreReusedAndStayAligned) {
    void *a = nullptr, *b = nullptr;
    ASSERT_EQ(acldvppMalloc(&a, 460800), 0);
    ASSERT_EQ(acldvppFree(a), 0);
    ASSERT_EQ(acldvppMalloc(&b, 460800), 0);
    EXPECT_EQ(a, b) << "a steady loop reuses the same memory";
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 128, 0u);
    EXPECT_EQ(acldvppFree(b), 0);
}

TEST(SimFaults, AimedAtTheNthCall) {
    ASSERT_EQ(twincam_sim_fault(TWINCAM_SIM_OP_MALLOC, 2, 0), 0);
    void *p = nullptr, *q = nullptr, *r = nullptr;
    EXPECT_EQ(acldvppMalloc(&p, 16), 0);
    EXPECT_EQ(acldvppMalloc(&q, 16), ACL_ERROR_BAD_ALLOC);
    EXPECT_EQ(acldvppMalloc(&r, 16), 0);
    EXPECT_EQ(twincam_sim_call_count(TWINCAM_SIM_OP_MALLOC), 3u);
    acldvppFree(p);
    acldvppFree(r);
    EXPECT_EQ(twincam_sim_fault(TWINCAM_SIM_OP_READ, 0, 0), -1) << "calls count from 1";
    EXPECT_EQ(twincam_sim_fault(TWINCAM_SIM_OP_LOG, 1, 0), -1) << "the log cannot fail";
    // A refused free keeps the buffer, for its owner to free again.
    ASSERT_EQ(acldvppMalloc(&p, 16), 0);
    ASSERT_TRUE(ScheduleFaults({{TWINCAM_SIM_OP_FREE, 1, 0}}));
    EXPECT_EQ(acldvppFree(p), ACL_ERROR_INVALID_PARAM);
    EXPECT_EQ(twincam_sim_live_buffers(), 1u);
    EXPECT_EQ(acldvppFree(p), 0);
    EXPECT_EQ(twincam_sim_live_buffers(), 0u);
}

TEST(SimFaults, ScheduleText) {
    char err[128] = "";
    for (const char *s : {"", "init@1", "status@2=7,open@1", "read@3=short,read@4=long,read@5=fail,read@6", "malloc@1=207001,malloc@2",
                          "free@1,free@2=7", "setprop@4,close@1", "status@1=-1"}) {
        EXPECT_EQ(twincam_sim_set_faults(s, err, sizeof err), 0) << s << ": " << err;
    }
    for (const char *s : {"read", "read@", "read@0", "read@x", "read@1=slow", "status@1", "open@1=3", "zoom@1", "init@1,,open@2",
                          "init@1,", "malloc@1=abc", "read@99999999999"}) {
        err[0] = '\0';
        EXPECT_EQ(twincam_sim_set_faults(s, err, sizeof err), -1) << s;
        EXPECT_NE(err[0], '\0') << s;
    }
    EXPECT_EQ(twincam_sim_set_faults(nullptr, err, sizeof err), -1);
    // A refused schedule keeps the one before: status@1=-1.
    ASSERT_EQ(MediaLibInit(), 1);
    EXPECT_EQ(QueryCameraStatus(0), -1);
}

TEST(SimJournal, KeepsTheMostRecentCalls) {
    for (int i = 0; i < TWINCAM_SIM_JOURNAL_CAPACITY + 10; ++i) QueryCameraStatus(i);
    EXPECT_EQ(twincam_sim_journal_size(), static_cast<size_t>(TWINCAM_SIM_JOURNAL_CAPACITY));
    EXPECT_EQ(Calls().front(), "QueryCameraStatus(10) = 0");
    EXPECT_EQ(twincam_sim_call_count(TWINCAM_SIM_OP_STATUS), TWINCAM_SIM_JOURNAL_CAPACITY + 10u);
}

TEST(SimReset, BackToTheStateAtLoad) {
    ASSERT_EQ(MediaLibInit(), 1);
    ASSERT_EQ(OpenCamera(1), 1);
    twincam_sim_fault(TWINCAM_SIM_OP_OPEN, 9, 0);
    twincam_sim_reset();
    EXPECT_EQ(twincam_sim_journal_size(), 0u);
    EXPECT_EQ(twincam_sim_call_count(TWINCAM_SIM_OP_OPEN), 0u);
    EXPECT_NE(QueryCameraStatus(1), Open) << "uninitialised again";
    ASSERT_EQ(MediaLibInit(), 1);
    EXPECT_EQ(QueryCameraStatus(1), Closed);
}

// The stand-in echoes records to stderr by its own level filter; stdout
// carries the library's plain lines only.
TEST(SimLog, EchoesErrorsToStderrOnly) {
    twincam_sim_set_log_level(ACL_ERROR);
    Capture err(stderr);
    std::string out;
    {
        Sinks sinks;
        OpenCameraEx(3, 30, 64, 48);
        OpenCameraEx(0, 30, 64, 48);
        out = sinks.Stdout();
    }
    EXPECT_EQ(out, Line(R(Msg::OpenInvalidId, 3)) + Line(R(Msg::OpenSuccess, 0)));
    const std::string text = err.Text();
    EXPECT_NE(text.find("ERROR camera.cpp:"), std::string::npos) << text;
    EXPECT_NE(text.find("OpenCameraEx: " + R(Msg::OpenInvalidId, 3).text), std::string::npos) << text;
    EXPECT_EQ(text.find("success"), std::string::npos) << "info is below the default filter";
}

// The environment's fault schedule is read at the first platform call; a
// malformed one is reported once and ignored.
TEST(EnvironmentFaults, ScheduleFromTheEnvironment) {
    setenv("TWINCAM_SIM_FAULTS", "status@2=9,malloc@1=207001", 1);
    MediaLibInit();
    EXPECT_EQ(QueryCameraStatus(0), Closed);
    EXPECT_EQ(QueryCameraStatus(0), 9);
    void *p = nullptr;
    EXPECT_EQ(acldvppMalloc(&p, 16), 207001);
}

TEST(EnvironmentFaults, MalformedScheduleIsReportedOnceAndIgnored) {
    setenv("TWINCAM_SIM_FAULTS", "read@2=sideways", 1);
    Capture err(stderr);
    MediaLibInit();
    EXPECT_EQ(QueryCameraStatus(0), Closed);
    EXPECT_EQ(QueryCameraStatus(0), Closed);
    const std::string text = err.Text();
    EXPECT_NE(text.find("ignoring TWINCAM_SIM_FAULTS"), std::string::npos) << text;
    EXPECT_EQ(text.find("ignoring", text.find("ignoring") + 1), std::string::npos) << "reported once";
}

}  // namespace
