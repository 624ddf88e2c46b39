// Helpers for the tests that run our programs as a user would: a scratch
// directory, a child process with its output in files, and the stamps of
// the pictures those programs write.
#ifndef TWINCAM_TESTS_TOOL_SUPPORT_H
#define TWINCAM_TESTS_TOOL_SUPPORT_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "twincam/sim/twincam_sim.h"

namespace twincam::test {

namespace fs = std::filesystem;

inline std::string Slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An empty directory of this process's own under the temporary directory.
inline fs::path ScratchDir(const std::string &stem) {
    const fs::path dir = fs::temp_directory_path() / (stem + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Starts argv in a process group of its own, stdout and stderr going to
// files "stdout" and "stderr" in dir, with env added to the environment.
inline pid_t Spawn(std::vector<std::string> argv, const fs::path &dir, const std::vector<std::string> &env = {}) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);
    dup2(open((dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open((dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    for (const std::string &e : env) putenv(strdup(e.c_str()));
    std::vector<char *> cargv;
    for (std::string &a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    execv(cargv[0], cargv.data());
    _exit(127);
}

// A TCP port free on 127.0.0.1 a moment ago, for a server that cannot pick its own.
inline int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &size);
    close(fd);
    return ntohs(addr.sin_port);
}

// The exit status, or 128 + the signal that ended it.
inline int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs argv to its end with its output in files in dir (made if missing);
// the exit status, and in *out what it printed on stdout and stderr.
inline int Run(const std::vector<std::string> &argv, const fs::path &dir, std::string *out = nullptr) {
    fs::create_directories(dir);
    const int status = Wait(Spawn(argv, dir));
    if (out != nullptr) *out = Slurp(dir / "stdout") + Slurp(dir / "stderr");
    return status;
}

// The camera and sequence of every frame of raw NV12 video ({-1, -1} for a
// frame without a valid stamp).
inline std::vector<std::pair<int, long long>> Nv12Stamps(const std::string &raw, int width, int height) {
    const size_t frame = static_cast<size_t>(width) * static_cast<size_t>(height) * 3 / 2;
    std::vector<std::pair<int, long long>> stamps;
    for (size_t at = 0; at + frame <= raw.size(); at += frame) {
        twincam_sim_stamp s{};
        const bool ok = twincam_sim_stamp_decode(raw.data() + at, width, height, &s) == 0;
        stamps.emplace_back(ok ? s.camera : -1, ok ? s.sequence : -1);
    }
    return stamps;
}

inline bool PngSize(const fs::path &p, unsigned *w, unsigned *h) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, p.c_str()) == 0) return false;
    *w = image.width;
    *h = image.height;
    png_image_free(&image);
    return true;
}

// The camera and sequence a JPEG's picture is stamped with (-1: none).
inline std::pair<int, long long> JpegStamp(const std::string &jpeg, int *width = nullptr, int *height = nullptr) {
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, space = 0;
    const auto *data = reinterpret_cast<const unsigned char *>(jpeg.data());
    std::pair<int, long long> result{-1, -1};
    if (tjDecompressHeader3(tj, data, jpeg.size(), &w, &h, &sub, &space) == 0) {
        std::vector<unsigned char> grey(static_cast<size_t>(w) * h);
        twincam_sim_stamp s{};
        if (tjDecompress2(tj, data, jpeg.size(), grey.data(), w, w, h, TJPF_GRAY, 0) == 0 &&
            twincam_sim_stamp_decode(grey.data(), w, h, &s) == 0) {
            result = {s.camera, s.sequence};
        }
    }
    tjDestroy(tj);
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    return result;
}

}  // namespace twincam::test

#endif  // TWINCAM_TESTS_TOOL_SUPPORT_H
