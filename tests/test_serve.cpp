// twincam-serve end to end: every endpoint, snapshots and streams that carry
// the cameras' stamps, the client limit, a stalled client, many clients
// coming and going, the default address, the page in a real browser; then
// hostile clients, the connection limits, bad input, sign-in and metrics.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <utility>
#include <set>
#include <sstream>
#include <thread>

#include "tool_support.h"

using twincam::test::JpegStamp;
using twincam::test::Slurp;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A connection from a source address of the loopback range, as from
// another machine; -1 when refused.
int Connect(int port, const char *from = "127.0.0.1") {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, from, &addr.sin_addr);
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return close(fd), -1;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return close(fd), -1;
    return fd;
}

// Whether the connection is open this moment, with nothing to read.
bool OpenNow(int fd) {
    char byte;
    return recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) < 0 && errno == EAGAIN;
}

// Whether the server has closed the connection (within the read timeout).
bool ClosedByServer(int fd) {
    char byte;
    const ssize_t n = read(fd, &byte, 1);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

// The status of a raw request, -1 when the connection closed without one.
int RawStatus(int port, const std::string &request) {
    const int fd = Connect(port);
    (void)!write(fd, request.data(), request.size());
    char reply[64] = {};
    const ssize_t n = read(fd, reply, sizeof reply - 1);
    close(fd);
    return n > 12 ? std::atoi(reply + 9) : -1;
}

// A raw connection that asks for a path and reads multipart JPEG parts.
class Stream {
public:
    Stream(int port, const std::string &path, int receiveBuffer = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval timeout{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
            const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
            (void)!write(fd_, request.data(), request.size());
        }
    }
    ~Stream() { close(fd_); }

    // The status line's code.
    int Status() {
        Fill([&] { return headersDone_ || raw_.find("\r\n") != std::string::npos; });
        return status_ > 0 ? status_ : raw_.size() > 12 ? std::atoi(raw_.c_str() + 9) : -1;
    }
    // The next JPEG part, empty when none came.
    std::string Part() {
        static const std::regex length("Content-Length: (\\d+)\r\n\r\n");
        std::smatch m;
        if (!Fill([&] { return std::regex_search(body_, m, length); })) return {};
        const size_t start = static_cast<size_t>(m.position(0) + m.length(0));
        const size_t size = std::stoul(m[1].str());
        if (!Fill([&] { return body_.size() >= start + size; })) return {};
        std::string part = body_.substr(start, size);
        body_.erase(0, start + size);
        return part;
    }

private:
    // Reads until done(), taking the response's headers off and undoing the
    // chunked transfer encoding into body_.
    template <typename Done>
    bool Fill(Done done) {
        char chunk[65536];
        while (!done()) {
            const ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n <= 0) return false;
            raw_.append(chunk, static_cast<size_t>(n));
            if (!headersDone_) {
                const size_t end = raw_.find("\r\n\r\n");
                if (end == std::string::npos) continue;
                status_ = std::atoi(raw_.c_str() + 9);
                chunked_ = raw_.substr(0, end).find("chunked") != std::string::npos;
                raw_.erase(0, end + 4);
                headersDone_ = true;
            }
            while (chunked_) {
                const size_t eol = raw_.find("\r\n");
                if (eol == std::string::npos) break;
                const size_t size = std::stoul(raw_.substr(0, eol), nullptr, 16);
                if (raw_.size() < eol + 2 + size + 2) break;
                body_.append(raw_, eol + 2, size);
                raw_.erase(0, eol + 2 + size + 2);
            }
            if (!chunked_) body_ += std::exchange(raw_, {});
        }
        return true;
    }
    int fd_;
    std::string raw_, body_;
    bool headersDone_ = false, chunked_ = false;
    int status_ = -1;
};

class Serve : public testing::Test {
protected:
    void SetUp() override {
        dir_ = twincam::test::ScratchDir("twincam-serve-test");
    }
    void TearDown() override {
        Stop();
        fs::remove_all(dir_);
    }

    // Starts the tool; returns its port.
    int Start(std::vector<std::string> args, bool listenAnywhere = true, const char *size = "640x480",
              const std::vector<std::string> &env = {}) {
        std::vector<std::string> argv = {TWINCAM_SERVE_TOOL, "--size", size};
        if (listenAnywhere) argv.insert(argv.end(), {"--listen", "127.0.0.1:0"});
        if (listenAnywhere && std::find(args.begin(), args.end(), "--rtsp") == args.end()) {
            argv.insert(argv.end(), {"--rtsp", "127.0.0.1:0"});
        }
        argv.insert(argv.end(), args.begin(), args.end());
        fs::remove(dir_ / "stdout");  // a server started before must not be taken for this one
        // A GLib or GStreamer critical is a fault: it ends the server, and the test with it.
        std::vector<std::string> environment = env;
        environment.push_back("G_DEBUG=fatal-criticals");
        pid_ = twincam::test::Spawn(argv, dir_, environment);
        static const std::regex url("http://([0-9.]+):(\\d+)/"), rtsp("rtsp://[0-9.]+:(\\d+)/");
        for (int i = 0; i < 100; ++i) {
            std::smatch m, r;
            const std::string out = Slurp(dir_ / "stdout");
            if (std::regex_search(out, m, url)) {
                host_ = m[1].str();
                rtspPort_ = std::regex_search(out, r, rtsp) ? std::stoi(r[1].str()) : -1;
                return std::stoi(m[2].str());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "the tool did not start: " << Slurp(dir_ / "stderr");
        return -1;
    }
    // SIGTERM, then the exit status must be 0 with nothing left behind.
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        EXPECT_EQ(twincam::test::Wait(pid_), 0) << Slurp(dir_ / "stderr");
        pid_ = -1;
        const std::string err = Slurp(dir_ / "stderr");
        EXPECT_EQ(err.find("never freed"), std::string::npos) << err;
        EXPECT_EQ(err.find("-CRITICAL **"), std::string::npos) << err;
        EXPECT_NE(Slurp(dir_ / "stdout").find("twincam-serve: stopped"), std::string::npos);
    }
    long StatsFigure(httplib::Client &client, const std::string &name) {
        auto res = client.Get("/stats");
        if (!res) return -1;
        std::smatch m;
        const std::regex figure("\"" + name + "\":(-?\\d+)");
        return std::regex_search(res->body, m, figure) ? std::stol(m[1].str()) : -1;
    }

    // How many cameras' /stats say this of them, e.g. "h264_running":true.
    int CamerasWith(httplib::Client &client, const std::string &figure) {
        auto res = client.Get("/stats");
        std::string body = res ? res->body : "";
        int n = 0;
        for (size_t at = body.find(figure); at != std::string::npos; at = body.find(figure, at + 1)) ++n;
        return n;
    }
    // Waits up to seconds for CamerasWith(figure) to be n.
    bool AwaitCameras(httplib::Client &client, const std::string &figure, int n, int seconds = 5) {
        for (int i = 0; i < seconds * 20; ++i) {
            if (CamerasWith(client, figure) == n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    std::string RtspUrl(int camera) const {
        return "rtsp://127.0.0.1:" + std::to_string(rtspPort_) + "/cam" + std::to_string(camera);
    }

    fs::path dir_;
    pid_t pid_ = -1;
    std::string host_;
    int rtspPort_ = -1;
};

TEST_F(Serve, EveryEndpointAnswersWithItsType) {
    const int port = Start({});
    httplib::Client client("127.0.0.1", port);
    auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(page->body.find("http"), std::string::npos) << "no external resources";
    auto stats = client.Get("/stats");
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->get_header_value("Content-Type"), "application/json");
    EXPECT_NE(stats->body.find("\"frames_read\""), std::string::npos) << stats->body;
    for (int id = 0; id < 2; ++id) {
        auto snap = client.Get("/snapshot/" + std::to_string(id) + ".jpg");
        ASSERT_TRUE(snap);
        EXPECT_EQ(snap->status, 200);
        EXPECT_EQ(snap->get_header_value("Content-Type"), "image/jpeg");
        int w = 0, h = 0;
        EXPECT_EQ(JpegStamp(snap->body, &w, &h).first, id) << "the camera's own stamp";
        EXPECT_EQ(w, 640);
        EXPECT_EQ(h, 480);
    }
    // An id too large for any integer is no camera either, not a server error.
    for (const char *path : {"/snapshot/2.jpg", "/stream/7", "/nothing", "/stats/x", "/stream/99999999999999999999",
                             "/snapshot/99999999999999999999.jpg"}) {
        auto res = client.Get(path);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404) << path;
    }
}

TEST_F(Serve, StreamsSuccessiveJpegsAndOnlyOpenCameras) {
    const int port = Start({"--camera", "1"});
    Stream stream(port, "/stream/1");
    EXPECT_EQ(stream.Status(), 200);
    long long last = -1;
    for (int n = 0; n < 5; ++n) {
        const auto [camera, sequence] = JpegStamp(stream.Part());
        EXPECT_EQ(camera, 1);
        EXPECT_GT(sequence, last) << "part " << n;
        last = sequence;
    }
    EXPECT_EQ(Stream(port, "/stream/0").Status(), 404) << "camera 0 is not open";
    EXPECT_EQ(Stream(port, "/snapshot/0.jpg").Status(), 404);
}

TEST_F(Serve, MoreClientsThanAllowedGet503) {
    const int port = Start({"--max-clients", "2"});
    Stream a(port, "/stream/0"), b(port, "/stream/1");
    ASSERT_EQ(a.Status(), 200);
    ASSERT_EQ(b.Status(), 200);
    EXPECT_EQ(Stream(port, "/stream/0").Status(), 503);
}

// A client that stops reading holds up neither reading nor the others.
TEST_F(Serve, StalledClientDoesNotSlowTheOthers) {
    const int port = Start({});
    Stream stalled(port, "/stream/0", 4096);
    ASSERT_EQ(stalled.Status(), 200);
    Stream reader(port, "/stream/0");
    ASSERT_EQ(reader.Status(), 200);
    reader.Part();
    const Clock::time_point start = Clock::now();
    int parts = 0;
    while (Clock::now() - start < std::chrono::seconds(2)) parts += reader.Part().empty() ? 0 : 1;
    EXPECT_GE(parts, 45) << "about 60 frames in 2 s at 30 fps";
    httplib::Client client("127.0.0.1", port);
    EXPECT_EQ(StatsFigure(client, "missed"), 0);
}

TEST_F(Serve, ManyClientsComingAndGoingLeaveEverythingFlat) {
    const int port = Start({});
    httplib::Client client("127.0.0.1", port);
    {
        Stream warm(port, "/stream/0");
        warm.Part();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long threads = StatsFigure(client, "threads"), rss = StatsFigure(client, "rss_kib");
    // In batches within the client limit: a stream is counted until the
    // server's next write finds its client gone.
    for (int batch = 0; batch < 20; ++batch) {
        for (int i = 0; i < 10; ++i) {
            Stream s(port, i % 2 == 0 ? "/stream/0" : "/stream/1");
            ASSERT_FALSE(s.Part().empty()) << "client " << batch * 10 + i;
        }
        for (int wait = 0; wait < 100 && StatsFigure(client, "streams") > 6; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(StatsFigure(client, "streams"), 0);
    EXPECT_LE(StatsFigure(client, "threads"), threads);
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's quarantine holds freed memory back: no gate there.
    EXPECT_LT(StatsFigure(client, "rss_kib"), rss + 4096);
#else
    (void)rss;
#endif
    EXPECT_LE(StatsFigure(client, "live_buffers"), 5) << "per camera a frame waiting and one encoding, and one being read";
}

// A camera given twice, or more than two, or a recording limit that is no
// age or size, is refused before anything opens.
TEST_F(Serve, RepeatedCameraIsRefused) {
    for (const char *third : {"0", "1"}) {
        const pid_t pid = twincam::test::Spawn({TWINCAM_SERVE_TOOL, "--camera", "0", "--camera", "1", "--camera", third}, dir_);
        EXPECT_EQ(twincam::test::Wait(pid), 2);
        EXPECT_NE(Slurp(dir_ / "stderr").find("--camera"), std::string::npos);
    }
    const pid_t pid = twincam::test::Spawn({TWINCAM_SERVE_TOOL, "--camera", "1", "--camera", "1"}, dir_);
    EXPECT_EQ(twincam::test::Wait(pid), 2);
    for (const std::vector<std::string> &args : {std::vector<std::string>{"--record", "r", "--record-max-age", "5x"},
                                                 std::vector<std::string>{"--record", "r", "--record-max-bytes", "lots"},
                                                 std::vector<std::string>{"--record-max-bytes", "10M"}}) {
        std::vector<std::string> argv{TWINCAM_SERVE_TOOL};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(twincam::test::Wait(twincam::test::Spawn(argv, dir_)), 2) << args[args.size() - 2];
        EXPECT_NE(Slurp(dir_ / "stderr").find("--record-max"), std::string::npos);
    }
}

TEST_F(Serve, ListensOnLoopbackByDefault) {
    const int port = Start({}, false);
    EXPECT_EQ(host_, "127.0.0.1");
    EXPECT_EQ(port, 8080);
    EXPECT_NE(Slurp(dir_ / "stdout").find("twincam-serve: rtsp://127.0.0.1:8554/\n"), std::string::npos);
}

// The page in headless Chromium, falling back to MJPEG without WebRTC: both
// cameras' colour bars are on the screenshot, and the figures have been
// filled in by the page's script.
TEST_F(Serve, PageShowsBothCamerasInABrowser) {
    const char *chromium = "/usr/bin/chromium";
    if (access(chromium, X_OK) != 0) GTEST_SKIP() << "Chromium is not installed (apt-get install chromium)";
    const int port = Start({"--webrtc", "off"}, true, "640x360");
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    const std::string common = std::string(chromium) +
                               " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                               " --disable-background-networking --disable-component-update --disable-sync"
                               " --virtual-time-budget=3000 --window-size=1400,700 --user-data-dir=" +
                               (dir_ / "profile").string();
    const fs::path shot = dir_ / "page.png";
    ASSERT_EQ(std::system((common + " --screenshot=" + shot.string() + " " + url + " >/dev/null 2>&1").c_str()), 0);
    const std::string dom = dir_ / "dom.html";
    ASSERT_EQ(std::system((common + " --dump-dom " + url + " >" + dom + " 2>/dev/null").c_str()), 0);

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, shot.c_str()), 0);
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr), 0);
    // Along a row through the middle of the pictures, each half of the page
    // shows the six saturated bars.
    const int y = 300, w = static_cast<int>(image.width);
    for (int half = 0; half < 2; ++half) {
        std::set<std::string> colours;
        for (int x = half * w / 2; x < (half + 1) * w / 2; ++x) {
            const uint8_t *p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            const bool r = p[0] > 140, g = p[1] > 140, b = p[2] > 140;
            const bool rl = p[0] < 80, gl = p[1] < 80, bl = p[2] < 80;
            if (r && g && bl) colours.insert("yellow");
            if (rl && g && b) colours.insert("cyan");
            if (rl && g && bl) colours.insert("green");
            if (r && gl && b) colours.insert("magenta");
            if (r && gl && bl) colours.insert("red");
            if (rl && gl && b) colours.insert("blue");
        }
        EXPECT_EQ(colours.size(), 6u) << "camera " << half;
    }
    const std::string text = Slurp(dom);
    std::smatch m;
    for (int id = 0; id < 2; ++id) {
        const std::regex frames("id=\"c" + std::to_string(id) + "-frames_read\">(\\d+)<");
        ASSERT_TRUE(std::regex_search(text, m, frames)) << "figures filled in by the script";
        EXPECT_GT(std::stol(m[1].str()), 0);
    }
}

}  // namespace

namespace {

// Both attacks at once, from several addresses: connections that send
// nothing, and connections that trickle a header line a second. A stream
// and a fresh client go on; all of them are closed at the head deadline.
TEST_F(Serve, HoldsAgainstSlowHeadersAndIdleConnections) {
    const int port = Start({"--head-timeout", "3", "--idle-timeout", "30", "--max-per-address", "50"});
    Stream stream(port, "/stream/0");
    ASSERT_EQ(stream.Status(), 200);
    std::vector<int> attackers;
    for (int i = 0; i < 300; ++i) {
        const int fd = Connect(port, ("127.0.1." + std::to_string(2 + i / 50)).c_str());
        ASSERT_GE(fd, 0);
        if (i % 2 == 0) (void)!write(fd, "GET /stats HTTP/1.1\r\n", 21);
        attackers.push_back(fd);
    }
    httplib::Client fresh("127.0.0.1", port);
    fresh.set_read_timeout(1, 0);
    for (int second = 0; second < 5; ++second) {
        const Clock::time_point asked = Clock::now();
        EXPECT_GE(StatsFigure(fresh, "frames_read"), 0) << "second " << second;
        EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(500));
        EXPECT_FALSE(stream.Part().empty());
        for (size_t i = 0; i < attackers.size(); i += 2) (void)!send(attackers[i], "X-A: b\r\n", 8, MSG_NOSIGNAL);
        if (second == 1) {
            EXPECT_TRUE(OpenNow(attackers[0]) && OpenNow(attackers[1])) << "not before the deadline";
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    int closed = 0;
    for (int fd : attackers) closed += ClosedByServer(fd) ? 1 : 0, close(fd);
    EXPECT_EQ(closed, 300);
    EXPECT_EQ(StatsFigure(fresh, "missed"), 0);
}

// Past a limit a connection is closed at once; the idle are closed in time.
TEST_F(Serve, ConnectionLimitsCloseTheExtraOnes) {
    const int port = Start({"--max-per-address", "3", "--max-connections", "6", "--idle-timeout", "2"});
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) held.push_back(Connect(port, "127.0.2.1"));
    const auto closedAtOnce = [](int fd) {
        const Clock::time_point start = Clock::now();
        return ClosedByServer(fd) && Clock::now() - start < std::chrono::milliseconds(500);
    };
    const int fourth = Connect(port, "127.0.2.1");
    EXPECT_TRUE(closedAtOnce(fourth)) << "per address";
    for (int i = 0; i < 3; ++i) held.push_back(Connect(port, "127.0.2.2"));
    const int seventh = Connect(port, "127.0.2.3");
    EXPECT_TRUE(closedAtOnce(seventh)) << "in all";
    for (int fd : {fourth, seventh}) close(fd);
    for (int fd : held) close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int kept = Connect(port);
    (void)!write(kept, "GET /stats HTTP/1.1\r\nHost: x\r\n\r\n", 32);
    char reply[4096];
    ASSERT_GT(read(kept, reply, sizeof reply), 12);
    EXPECT_EQ(std::atoi(reply + 9), 200);
    const Clock::time_point answered = Clock::now();
    while (!ClosedByServer(kept)) {}
    EXPECT_LT(Clock::now() - answered, std::chrono::seconds(3)) << "the idle keep-alive timeout";
    close(kept);
}

// Each kind of bad request gets its status; ten thousand malformed ones
// leave the server answering, with memory and buffers flat.
TEST_F(Serve, BadRequestsGetTheirStatusAndLeaveTheServerFlat) {
    const int port = Start({});
    EXPECT_EQ(RawStatus(port, "POST /stats HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc"), 405);
    EXPECT_EQ(RawStatus(port, "DELETE /stream/0 HTTP/1.1\r\nHost: x\r\n\r\n"), 405);
    EXPECT_EQ(RawStatus(port, "GET /stats HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(65536, 'a') + "\r\n\r\n"), 431);
    for (const char *path : {"/%zz", "/stream/%", "/stream/0x1", "/stream/+1", "/snapshot/.jpg", "/metrics/"}) {
        EXPECT_EQ(RawStatus(port, std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n"), 404) << path;
    }
    httplib::Client client("127.0.0.1", port);
    const std::vector<std::string> shapes = {
        "GET / HTTP/1.1\r\nHost: x\r\n", "GET /st%0", "\r\n\r\n\r\n", "GET /stats HTTP/1.1\r\nHost: x\r\n\r\nGARBAGE\r\n\r\n",
        "GET /stats HTTP/9.9\r\n\r\n", "GET /stats HTTP/1.1\r\nX: " + std::string(40000, 'h') + "\r\n\r\n"};
    std::mt19937 random(7);
    // Two rounds: the first sets the peak the allocator keeps, the second must not add to it.
    long rss = 0;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 5000; ++i) {
            std::string request = shapes[i % shapes.size()];
            for (int n = 0; i % 3 == 0 && n < 64; ++n) request += static_cast<char>(random());
            // From many addresses: what lingers until its deadline must not hit the per-address cap.
            const int fd = Connect(port, ("127.0.3." + std::to_string(1 + i % 200)).c_str());
            (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            shutdown(fd, SHUT_WR);
            close(fd);
        }
        // What lingers is closed by the idle timeout; meanwhile the cap may refuse us.
        for (int wait = 0; wait < 150; ++wait) {
            if (const long open = StatsFigure(client, "connections"); open >= 0 && open <= 1) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(RawStatus(port, "GET /stats HTTP/1.0\r\n\r\n"), 200) << "round " << round;
        if (round == 0) rss = StatsFigure(client, "rss_kib");
    }
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(StatsFigure(client, "rss_kib"), rss + 4096);
#else
    (void)rss;
#endif
    EXPECT_LE(StatsFigure(client, "live_buffers"), 5);
}

// Sign-in with a file made by Apache's htpasswd; a bad file stops the
// server naming its line; no sign-in beyond loopback is warned of.
TEST_F(Serve, SignInWithAnHtpasswdFile) {
    if (access("/usr/bin/htpasswd", X_OK) != 0) GTEST_SKIP() << "htpasswd is not installed (apt-get install apache2-utils)";
    const fs::path users = dir_ / "users";
    ASSERT_EQ(std::system(("htpasswd -B -b -c " + users.string() + " alice 'open sesame' 2>/dev/null").c_str()), 0);
    const int port = Start({"--auth-file", users.string()});
    httplib::Client client("127.0.0.1", port);
    auto refused = client.Get("/stats");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    EXPECT_EQ(refused->get_header_value("WWW-Authenticate").rfind("Basic", 0), 0u);
    client.set_basic_auth("alice", "open sesamE");
    EXPECT_EQ(client.Get("/stats")->status, 401);
    client.set_basic_auth("alice", "open sesame");
    for (const char *path : {"/", "/stats", "/metrics", "/snapshot/0.jpg"}) EXPECT_EQ(client.Get(path)->status, 200) << path;
    if (*TWINCAM_FFPROBE) {
        std::string out;
        const std::vector<std::string> probe = {TWINCAM_FFPROBE, "-v", "error", "-timeout", "10000000", "-rtsp_transport", "tcp", "-show_entries",
                                                "stream=codec_name", "-of", "csv=p=0"};
        std::vector<std::string> anonymous = probe, signedIn = probe;
        anonymous.push_back(RtspUrl(0));
        signedIn.push_back("rtsp://alice:open%20sesame@" + RtspUrl(0).substr(7));
        EXPECT_NE(twincam::test::Run(anonymous, dir_ / "probe", &out), 0);
        EXPECT_NE(out.find("401"), std::string::npos) << out;
        EXPECT_EQ(twincam::test::Run(signedIn, dir_ / "probe", &out), 0) << out;
        EXPECT_EQ(out, "h264\n");
    }
    Stop();

    std::ofstream(users, std::ios::app) << "bob:secret\n";
    const pid_t bad = twincam::test::Spawn({TWINCAM_SERVE_TOOL, "--auth-file", users.string()}, dir_);
    EXPECT_EQ(twincam::test::Wait(bad), 1);
    EXPECT_NE(Slurp(dir_ / "stderr").find("line 2: the password of 'bob' is not a bcrypt hash"), std::string::npos);

    Start({"--listen", "0.0.0.0:0"}, false);
    EXPECT_NE(Slurp(dir_ / "stderr").find("without --auth-file: anyone who can reach"), std::string::npos);
}

// promtool accepts /metrics, and a real Prometheus, scraping every second,
// sees the frames read rise.
TEST_F(Serve, MetricsPassPromtoolAndPrometheusScrapesThem) {
    if (access("/usr/bin/prometheus", X_OK) != 0) GTEST_SKIP() << "Prometheus is not installed (apt-get install prometheus)";
    const int port = Start({});
    httplib::Client client("127.0.0.1", port);
    std::ofstream(dir_ / "metrics") << client.Get("/metrics")->body;
    EXPECT_EQ(std::system(("promtool check metrics <" + (dir_ / "metrics").string()).c_str()), 0);

    const int promPort = twincam::test::FreePort();
    std::ofstream(dir_ / "prometheus.yml") << "global: {scrape_interval: 1s}\nscrape_configs:\n"
                                           << "  - {job_name: twincam, static_configs: [{targets: ['127.0.0.1:"
                                           << port << "']}]}\n";
    const fs::path promDir = dir_ / "prometheus";
    fs::create_directories(promDir);
    const pid_t prometheus = twincam::test::Spawn(
        {"/usr/bin/prometheus", "--config.file=" + (dir_ / "prometheus.yml").string(), "--storage.tsdb.path=" + (promDir / "data").string(),
         "--web.listen-address=127.0.0.1:" + std::to_string(promPort)}, promDir);
    httplib::Client api("127.0.0.1", promPort);
    std::vector<long> seen;
    static const std::regex value(R"re("value":\[[0-9.]+,"(\d+)"\])re");
    for (int i = 0; i < 60 && seen.size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        auto res = api.Get("/api/v1/query", httplib::Params{{"query", "twincam_frames_read_total{camera=\"0\"}"}},
                          httplib::Headers{});
        std::smatch m;
        if (res && std::regex_search(res->body, m, value) && (seen.empty() || std::stol(m[1].str()) != seen.back())) {
            seen.push_back(std::stol(m[1].str()));
        }
    }
    kill(prometheus, SIGTERM);
    twincam::test::Wait(prometheus);
    ASSERT_EQ(seen.size(), 2u) << Slurp(promDir / "stderr");
    EXPECT_GT(seen[1], seen[0]);
}

// H.264 over RTSP, with real players as clients: ffprobe sees it on both
// cameras; two ffmpeg clients over TCP, one over UDP and GStreamer's rtspsrc
// decode frames that carry their camera's stamp in order; one encoder per
// camera runs while they watch and stops after the last; a key frame comes
// every second, so a client that joins sees a picture within one.
TEST_F(Serve, RtspH264ForFfmpegAndGStreamerClients) {
    if (!*TWINCAM_FFMPEG || !*TWINCAM_FFPROBE || !*TWINCAM_GST_LAUNCH) GTEST_SKIP() << "apt-get install ffmpeg gstreamer1.0-tools";
    const int port = Start({});
    httplib::Client client("127.0.0.1", port);
    EXPECT_EQ(CamerasWith(client, "\"rtsp_url\":\"" + RtspUrl(1) + "\""), 1);
    EXPECT_EQ(CamerasWith(client, "\"h264_running\":true"), 0) << "no encoder before a client";
    for (int camera = 0; camera < 2; ++camera) {
        std::string out;
        EXPECT_EQ(twincam::test::Run({TWINCAM_FFPROBE, "-v", "error", "-timeout", "10000000", "-rtsp_transport", "tcp", "-show_entries",
                                      "stream=codec_name,width,height", "-of", "csv=p=0", RtspUrl(camera)},
                                     dir_ / "probe", &out), 0);
        EXPECT_EQ(out, "h264,640,480\n");
    }

    std::vector<std::pair<pid_t, fs::path>> players;
    for (const char *transport : {"tcp", "tcp", "udp"}) {
        const fs::path d = dir_ / ("ffmpeg-" + std::to_string(players.size()));
        fs::create_directories(d);
        players.emplace_back(twincam::test::Spawn({TWINCAM_FFMPEG, "-v", "error", "-timeout", "10000000", "-rtsp_transport", transport, "-i", RtspUrl(0),
                                                   "-frames:v", "90", "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "nv12",
                                                   (d / "out.nv12").string()}, d),
                             d);
    }
    const fs::path gst = dir_ / "gst";
    fs::create_directories(gst);
    players.emplace_back(twincam::test::Spawn({TWINCAM_GST_LAUNCH, "-q", "rtspsrc", "location=" + RtspUrl(1), "protocols=tcp", "!",
                                               "rtph264depay", "!", "avdec_h264", "!", "videoconvert", "!", "video/x-raw,format=NV12",
                                               "!", "identity", "eos-after=60", "!", "filesink", "location=" + (gst / "out.nv12").string()},
                                              gst),
                         gst);
    EXPECT_TRUE(AwaitCameras(client, "\"h264_running\":true", 2)) << "an encoder per camera while watched";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long sent = StatsFigure(client, "rtsp_sent_ms_median");
    EXPECT_TRUE(sent >= 0 && sent < 500) << "from a frame's read to its packets leaving: " << sent << " ms";
    for (const auto &[pid, d] : players) {
        ASSERT_EQ(twincam::test::Wait(pid), 0) << Slurp(d / "stderr");
        const auto stamps = twincam::test::Nv12Stamps(Slurp(d / "out.nv12"), 640, 480);
        EXPECT_GE(stamps.size(), 50u) << d;
        const int camera = d == gst ? 1 : 0;
        for (size_t n = 1; n < stamps.size(); ++n) {
            ASSERT_EQ(stamps[n].first, camera) << d << " frame " << n;
            ASSERT_GT(stamps[n].second, stamps[n - 1].second) << d << " frame " << n;
        }
    }
    EXPECT_TRUE(AwaitCameras(client, "\"h264_running\":false", 2)) << "the encoders stop after the last client";
    EXPECT_EQ(CamerasWith(client, "\"rtsp_clients\":0"), 2);

    std::string frames;
    ASSERT_EQ(twincam::test::Run({TWINCAM_FFPROBE, "-v", "error", "-timeout", "10000000", "-rtsp_transport", "tcp", "-read_intervals", "%+3", "-show_frames",
                                  "-show_entries", "frame=key_frame", "-of", "csv=p=0", RtspUrl(0)},
                                 dir_ / "probe", &frames), 0);
    std::vector<int> keys;
    std::istringstream lines(frames);
    int n = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || (line[0] != '0' && line[0] != '1')) continue;  // side data, not a frame
        if (line[0] == '1') keys.push_back(n);
        ++n;
    }
    ASSERT_GE(keys.size(), 2u) << frames;
    for (size_t k = 1; k < keys.size(); ++k) EXPECT_LE(keys[k] - keys[k - 1], 30) << "a key frame every second at 30 fps";
}

// The figure of a metric's sample, -1 when it is not there.
double Metric(httplib::Client &client, const std::string &sample) {
    auto res = client.Get("/metrics");
    const size_t at = res ? res->body.find("\n" + sample + " ") : std::string::npos;
    return at == std::string::npos ? -1 : std::stod(res->body.substr(at + sample.size() + 2));
}

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// A camera unplugged for 3 s: its MJPEG and RTSP clients stay connected,
// get "no signal" at least once a second meanwhile and the camera's frames
// again after; the metrics and the log tell of one failure and one return.
TEST_F(Serve, UnpluggedCameraComesBackToTheClientsThatStayed) {
    const int port = Start({"--camera", "0", "--reopen-max", "1"}, true, "640x480", {"TWINCAM_SIM_PACE=1", "TWINCAM_SIM_UNPLUG_0=2+3"});
    httplib::Client client("127.0.0.1", port);
    const fs::path d = dir_ / "ffmpeg";
    fs::create_directories(d);
    const pid_t player = *TWINCAM_FFMPEG ? twincam::test::Spawn({TWINCAM_FFMPEG, "-v", "error", "-timeout", "10000000",
                                                                  "-rtsp_transport", "tcp", "-i", RtspUrl(0), "-frames:v", "150",
                                                                  "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt",
                                                                  "nv12", (d / "out.nv12").string()}, d)
                                           : -1;
    Stream stream(port, "/stream/0");
    ASSERT_EQ(stream.Status(), 200);
    // Each part's camera by its stamp (-1: "no signal") and when it came.
    std::vector<std::pair<int, double>> parts;
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(8)) {
        const std::string part = stream.Part();
        ASSERT_FALSE(part.empty()) << "the stream stays open through the outage";
        parts.emplace_back(JpegStamp(part).first, std::chrono::duration<double>(Clock::now() - start).count());
        if (parts.back().first == -1 && (parts.size() < 2 || parts[parts.size() - 2].first == 0)) {
            EXPECT_EQ(Metric(client, "twincam_camera_up{camera=\"0\"}"), 0);
            EXPECT_EQ(CamerasWith(client, "\"state\":\"reconnecting\""), 1);
        }
    }
    const auto down = std::find_if(parts.begin(), parts.end(), [](auto &p) { return p.first == -1; });
    const auto back = std::find_if(down, parts.end(), [](auto &p) { return p.first == 0; });
    ASSERT_NE(down, parts.begin()) << "frames before the outage";
    ASSERT_NE(back, parts.end()) << "frames after it";
    for (auto p = down; p != back; ++p) EXPECT_LT(p[1].second - p[0].second, 1.0) << "no signal at least once a second";
    EXPECT_GT(back->second - down->second, 2.5);
    EXPECT_EQ(Metric(client, "twincam_camera_up{camera=\"0\"}"), 1);
    EXPECT_EQ(Metric(client, "twincam_camera_failures_total{camera=\"0\"}"), 1);
    EXPECT_EQ(Metric(client, "twincam_camera_reopens_total{camera=\"0\"}"), 1);
    if (player > 0) {
        ASSERT_EQ(twincam::test::Wait(player), 0) << Slurp(d / "stderr");
        const auto stamps = twincam::test::Nv12Stamps(Slurp(d / "out.nv12"), 640, 480);
        const auto gap = std::find_if(stamps.begin(), stamps.end(), [](auto &s) { return s.first == -1; });
        ASSERT_NE(gap, stamps.end()) << "the player saw no signal";
        EXPECT_NE(std::find_if(gap, stamps.end(), [](auto &s) { return s.first == 0; }), stamps.end())
            << "and camera 0 again after it, without reconnecting";
    }
    Stop();
    const std::string log = Slurp(dir_ / "stderr");
    EXPECT_EQ(Count(log, "twincam-serve: camera 0 is down"), 1u) << log;
    EXPECT_EQ(Count(log, "twincam-serve: camera 0 is back"), 1u) << log;
}

// A camera that is not there at start is served all the same: "no signal"
// (not 404) until it appears, then its frames.
TEST_F(Serve, CameraMissingAtStartIsServedOnceItAppears) {
    const int port = Start({"--camera", "1"}, true, "640x480", {"TWINCAM_SIM_PACE=1", "TWINCAM_SIM_UNPLUG_1=0+2"});
    httplib::Client client("127.0.0.1", port);
    auto first = client.Get("/snapshot/1.jpg");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->status, 200);
    EXPECT_EQ(JpegStamp(first->body).first, -1) << "no signal";
    EXPECT_EQ(CamerasWith(client, "\"state\":\"reconnecting\""), 1);
    int camera = -1;
    for (int i = 0; i < 100 && camera != 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto snap = client.Get("/snapshot/1.jpg");
        camera = snap ? JpegStamp(snap->body).first : -1;
    }
    EXPECT_EQ(camera, 1);
    EXPECT_EQ(Metric(client, "twincam_camera_up{camera=\"1\"}"), 1);
}

// The service manager's end of the notification socket: what the server
// says, with the time since it said READY=1.
class NotifySocket {
public:
    explicit NotifySocket(const fs::path &path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        timeval timeout{0, 100000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~NotifySocket() { close(fd_); }
    std::string env() const { return "NOTIFY_SOCKET=" + path_.string(); }

    // What it says until `after` past READY=1 (20 s at most).
    std::vector<std::pair<std::string, double>> Listen(std::chrono::seconds after) {
        std::vector<std::pair<std::string, double>> said;
        Clock::time_point ready{};
        const Clock::time_point start = Clock::now();
        while (Clock::now() - start < std::chrono::seconds(20) && (ready == Clock::time_point{} || Clock::now() - ready < after)) {
            char message[512];
            const ssize_t n = recv(fd_, message, sizeof message, 0);
            if (n <= 0) continue;
            const std::string text(message, static_cast<size_t>(n));
            if (text.rfind("READY=1", 0) == 0) ready = Clock::now();
            said.emplace_back(text, std::chrono::duration<double>(Clock::now() - ready).count());
        }
        return said;
    }
    static std::vector<double> Pings(const std::vector<std::pair<std::string, double>> &said) {
        std::vector<double> pings;
        for (const auto &[text, at] : said) {
            if (text == "WATCHDOG=1") pings.push_back(at);
        }
        return pings;
    }
    // Whether STOPPING=1 came among what is left.
    bool SaidStopping() {
        char message[64];
        bool stopping = false;
        for (ssize_t n; (n = recv(fd_, message, sizeof message, 0)) > 0;) stopping |= std::string(message, static_cast<size_t>(n)) == "STOPPING=1";
        return stopping;
    }

private:
    fs::path path_;
    int fd_ = -1;
};

// The service manager's side, through a notification socket of the test's
// own: READY, the cameras' state, watchdog pings twice a period while
// healthy; none once a read hangs in the library; and SIGTERM still ends
// the server within 5 s, naming the camera stuck.
TEST_F(Serve, WatchdogPingsStopWhenAReadHangsAndSigtermStillEndsIt) {
    NotifySocket notify(dir_ / "notify");
    // The 60th read, 2 s in, never returns.
    Start({"--camera", "0"}, true, "640x480",
          {"TWINCAM_SIM_PACE=1", notify.env(), "WATCHDOG_USEC=1000000", "TWINCAM_SIM_FAULTS=read@60=hang"});
    const auto said = notify.Listen(std::chrono::seconds(8));
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.front().first.rfind("READY=1\nSTATUS=camera 0 delivering", 0), 0u) << said.front().first;
    const std::vector<double> pings = NotifySocket::Pings(said);
    ASSERT_GE(pings.size(), 2u) << "pings while healthy";
    EXPECT_LT(pings[1] - pings[0], 0.8) << "twice a period";
    EXPECT_LT(pings.back(), 5.5) << "none once the read hung past the limit";

    kill(pid_, SIGTERM);
    const Clock::time_point asked = Clock::now();
    EXPECT_EQ(twincam::test::Wait(pid_), 1);
    EXPECT_LT(Clock::now() - asked, std::chrono::seconds(5));
    pid_ = -1;
    EXPECT_NE(Slurp(dir_ / "stderr").find("camera 0 has been stuck inside a library call"), std::string::npos);
    EXPECT_TRUE(notify.SaidStopping());
}

// The watchdog asks HTTP and RTSP on their ports; its own connections pass
// the per-address limits, so a client holding every connection its address
// may have (here, loopback's too) does not stop the pings.
TEST_F(Serve, WatchdogProbesBothPortsPastTheirPerAddressLimits) {
    NotifySocket notify(dir_ / "notify");
    const int port = Start({"--camera", "0", "--max-per-address", "2", "--head-timeout", "30", "--idle-timeout", "30"},
                           true, "320x240", {"TWINCAM_SIM_PACE=1", notify.env(), "WATCHDOG_USEC=1000000"});
    std::vector<int> held;
    for (int p : {port, rtspPort_}) {
        for (int n = 0; n < 2; ++n) held.push_back(Connect(p));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int refused = Connect(rtspPort_);
    EXPECT_TRUE(ClosedByServer(refused)) << "the limit holds for everyone else";
    close(refused);
    const std::vector<double> pings = NotifySocket::Pings(notify.Listen(std::chrono::seconds(4)));
    ASSERT_GE(pings.size(), 2u);
    EXPECT_GT(pings.back(), 3.0) << "pings go on while both ports are full for loopback";
    for (int fd : held) {
        EXPECT_TRUE(OpenNow(fd));
        close(fd);
    }
}

// The recorded segments of a camera, oldest first (their names sort in
// time); not those still hidden, before their first fragment is whole.
std::vector<fs::path> Segments(const fs::path &folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(folder, ec)) {
        if (e.path().filename().string()[0] != '.') files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Recording beside an RTSP client: one encoder for both; 3 s segments that
// each play and follow one another frame by frame; a SIGKILL leaves every
// one playable; the list, byte ranges, and no way out of the folder.
TEST_F(Serve, RecordsSegmentsThatPlayInOrderFromTheOneEncoder) {
    if (!*TWINCAM_FFMPEG || !*TWINCAM_FFPROBE) GTEST_SKIP() << "apt-get install ffmpeg";
    const fs::path rec = dir_ / "rec";
    const int port = Start({"--camera", "0", "--record", rec.string(), "--record-segment", "3"}, true, "320x240",
                           {"TWINCAM_SIM_PACE=1"});
    httplib::Client client("127.0.0.1", port);
    std::string out;
    EXPECT_EQ(twincam::test::Run({TWINCAM_FFMPEG, "-v", "error", "-timeout", "10000000", "-rtsp_transport", "tcp", "-i",
                                  RtspUrl(0), "-frames:v", "60", "-f", "null", "-"}, dir_ / "player", &out), 0) << out;
    const long read = StatsFigure(client, "frames_read"), encoded = StatsFigure(client, "h264_frames_encoded");
    EXPECT_GT(encoded, 60);
    EXPECT_LE(encoded, read + 2) << "one encoder for RTSP and the recorder, not one each";
    std::this_thread::sleep_for(std::chrono::seconds(9));
    auto list = client.Get("/recordings");
    ASSERT_TRUE(list);
    const std::vector<fs::path> files = Segments(rec / "cam0");
    ASSERT_GE(files.size(), 3u);
    const std::string name = files[0].filename().string();
    EXPECT_NE(list->body.find("\"file\":\"cam0/" + name + "\""), std::string::npos) << list->body;
    const std::string whole = Slurp(files[0]);
    auto part = client.Get("/recordings/cam0/" + name, httplib::Headers{{"Range", "bytes=100-1099"}});
    ASSERT_TRUE(part);
    EXPECT_EQ(part->status, 206);
    EXPECT_EQ(part->body, whole.substr(100, 1000));
    for (const std::string &path : std::vector<std::string>{"/recordings/cam0/../cam0/" + name, "/recordings/cam0/..%2F..%2Fetc%2Fpasswd",
                                   "/recordings/cam1/" + name, "/recordings/cam0/" + name + "/x", "/recordings/../stats"}) {
        EXPECT_EQ(RawStatus(port, "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n"), 404) << path;
    }

    kill(pid_, SIGKILL);
    EXPECT_EQ(twincam::test::Wait(pid_), 128 + SIGKILL);
    pid_ = -1;
    std::vector<std::pair<int, long long>> stamps;
    std::vector<size_t> starts;
    for (const fs::path &file : Segments(rec / "cam0")) {
        const fs::path raw = dir_ / "segment.nv12";
        // Passthrough: at a constant rate ffmpeg would fill a late frame's gap with a copy.
        ASSERT_EQ(twincam::test::Run({TWINCAM_FFMPEG, "-v", "error", "-i", file.string(), "-fps_mode", "passthrough", "-f",
                                      "rawvideo", "-pix_fmt", "nv12", "-y", raw.string()}, dir_ / "decode", &out), 0)
            << file << out;
        const auto more = twincam::test::Nv12Stamps(Slurp(raw), 320, 240);
        EXPECT_FALSE(more.empty()) << file << " plays";
        starts.push_back(stamps.size());
        stamps.insert(stamps.end(), more.begin(), more.end());
    }
    for (size_t n = 1; n < stamps.size(); ++n) ASSERT_GT(stamps[n].second, stamps[n - 1].second) << "frame " << n;
    for (size_t k = 1; k + 1 < starts.size(); ++k) {
        EXPECT_EQ(stamps[starts[k]].second, stamps[starts[k] - 1].second + 1) << "nothing lost or repeated between segments";
    }
    // Each whole segment lasts the length asked (3 s at 30 fps, by the camera's own count of frames),
    // cut at the first key frame from there: less than a key-frame interval (1 s) and a frame more.
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
        const long frames = stamps[starts[k + 1]].second - stamps[starts[k]].second;
        EXPECT_GE(frames, 3 * 30) << "segment " << k;
        EXPECT_LT(frames, 4 * 30 + 1) << "segment " << k;
    }
}

// A full disk while recording is said once, naming the file and what the
// server does about it, and the server goes on serving.
TEST_F(Serve, RecordingOnAFullDiskSaysWhichFileAndGoesOn) {
    const fs::path full = dir_ / "full";
    fs::create_directories(full);
    if (std::system(("mount -t tmpfs -o size=1m tmpfs " + full.string() + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): the full disk is not tried";
    }
    const int port = Start({"--camera", "0", "--record", full.string(), "--bitrate", "8000"}, true, "1280x720",
                           {"TWINCAM_SIM_PACE=1"});
    std::string err;
    for (int i = 0; i < 200 && err.find("the disk is full") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        err = Slurp(dir_ / "stderr");
    }
    EXPECT_NE(err.find("recording camera 0: the disk is full (writing " + (full / "cam0").string() + "/"), std::string::npos)
        << err;
    EXPECT_EQ(err.find("sink"), std::string::npos) << "no element's name: " << err;
    httplib::Client client("127.0.0.1", port);
    EXPECT_EQ(client.Get("/snapshot/0.jpg")->status, 200) << "still serving";
    Stop();
    std::system(("umount " + full.string()).c_str());
}

// The oldest segments go by age, then by size; the one being written stays.
TEST_F(Serve, RecordingKeepsWithinItsAgeAndSize) {
    const fs::path rec = dir_ / "rec";
    int port = Start({"--camera", "0", "--record", rec.string(), "--record-segment", "1", "--record-max-age", "3s"}, true,
                     "320x240", {"TWINCAM_SIM_PACE=1"});
    httplib::Client aged("127.0.0.1", port);
    std::this_thread::sleep_for(std::chrono::seconds(8));
    EXPECT_GE(Metric(aged, "twincam_recorded_segments_deleted_total{camera=\"0\"}"), 2);
    EXPECT_LE(Segments(rec / "cam0").size(), 6u) << "three seconds of 1 s segments, and the ones in hand";
    Stop();

    port = Start({"--camera", "0", "--record", rec.string(), "--record-segment", "1", "--record-max-bytes", "100k"}, true,
                 "320x240", {"TWINCAM_SIM_PACE=1"});
    httplib::Client sized("127.0.0.1", port);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    long long bytes = 0, largest = 0;
    for (const fs::path &file : Segments(rec / "cam0")) {
        bytes += static_cast<long long>(fs::file_size(file));
        largest = std::max<long long>(largest, static_cast<long long>(fs::file_size(file)));
    }
    EXPECT_LE(bytes, 100 * 1024 + 2 * largest);
    EXPECT_EQ(Metric(sized, "twincam_recording_up{camera=\"0\"}"), 1);
}

}  // namespace
