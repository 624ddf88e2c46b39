#include "library_lock.h"

#include <mutex>

namespace {
std::mutex g_library;
}  // namespace

extern "C" {
__attribute__((visibility("default"))) void twincam_library_lock(void) { g_library.lock(); }
__attribute__((visibility("default"))) void twincam_library_unlock(void) { g_library.unlock(); }
}
