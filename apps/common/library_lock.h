// The one lock around calls into libtwincam for everything of ours in a
// process. The library takes no locks, so the capture and serve programs,
// the GStreamer element and the Python module all take this one before
// they call it; it lives in libtwincam_lock.so, which every one of them
// loads, so a process that holds several of them still has only one.
#ifndef TWINCAM_APPS_LIBRARY_LOCK_H
#define TWINCAM_APPS_LIBRARY_LOCK_H

#ifdef __cplusplus
extern "C" {
#endif

/* Takes and gives back the process's library lock; not recursive. */
void twincam_library_lock(void);
void twincam_library_unlock(void);

#ifdef __cplusplus
}

namespace twincam::common {

// Holds the library lock for a scope.
class LibraryLock {
public:
    LibraryLock() { twincam_library_lock(); }
    ~LibraryLock() { twincam_library_unlock(); }
    LibraryLock(const LibraryLock &) = delete;
    LibraryLock &operator=(const LibraryLock &) = delete;
};

// Runs one library call (or a few that belong together) under the lock.
template <typename Call>
auto Locked(Call &&call) {
    const LibraryLock lock;
    return call();
}

}  // namespace twincam::common
#endif

#endif  // TWINCAM_APPS_LIBRARY_LOCK_H
