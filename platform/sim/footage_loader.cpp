// Footage lives in a module of its own, libtwincam_sim_footage.so beside
// this library, loaded the first time a camera plays a source: FFmpeg's
// libraries are then loaded only by the applications that play footage.
#include <dlfcn.h>

#include <mutex>

#include "scene.h"
#include "sim_core.h"

namespace twincam::sim {
namespace {

using OpenFn = Footage *(*)(int32_t camera, const char *path, int stamp, char *why, size_t whylen);

// The module's entry point, or nullptr with the reason.
OpenFn LoadModule(std::string *why) {
    static std::once_flag once;
    static OpenFn open = nullptr;
    static std::string error;
    std::call_once(once, [] {
        Dl_info self{};
        std::string path = "libtwincam_sim_footage.so";
        if (dladdr(reinterpret_cast<void *>(&LoadModule), &self) != 0 && self.dli_fname != nullptr) {
            const std::string here = self.dli_fname;
            const size_t slash = here.rfind('/');
            if (slash != std::string::npos) path = here.substr(0, slash + 1) + path;
        }
        void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module != nullptr) open = reinterpret_cast<OpenFn>(dlsym(module, "twincam_sim_footage_open"));
        if (open == nullptr) {
            const char *reason = dlerror();
            error = "these stand-ins play no footage (" + std::string(reason != nullptr ? reason : path) +
                    "): build them where FFmpeg's libavformat-dev, libavcodec-dev and libswscale-dev are installed";
        }
    });
    *why = error;
    return open;
}

}  // namespace

std::shared_ptr<Footage> OpenFootage(int32_t camera, const std::string &path, bool stamp, std::string *why) {
    const OpenFn open = LoadModule(why);
    if (open == nullptr) return nullptr;
    char reason[512] = "";
    Footage *footage = open(camera, path.c_str(), stamp ? 1 : 0, reason, sizeof reason);
    if (footage == nullptr) *why = reason;
    return std::shared_ptr<Footage>(footage);
}

}  // namespace twincam::sim
