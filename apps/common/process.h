// Figures of the program's own process, read from /proc, for the programs that
// prove their memory and threads stay flat.
#ifndef TWINCAM_APPS_PROCESS_H
#define TWINCAM_APPS_PROCESS_H

#include <unistd.h>

#include <cstdio>

#if TWINCAM_WITH_SIM
#include "twincam/sim/twincam_sim.h"
#endif

namespace twincam::common {

// Resident memory in KiB, or -1.
inline long ResidentKiB() {
    long pages = 0, resident = 0;
    FILE *f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return -1;
    const int n = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return n == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// Threads of the process, or -1.
inline long ThreadCount() {
    long threads = -1;
    FILE *f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::sscanf(line, "Threads: %ld", &threads) == 1) break;
    }
    std::fclose(f);
    return threads;
}

// dvpp buffers allocated and not yet freed: known with the stand-ins only, -1 otherwise.
inline long LiveBuffers() {
#if TWINCAM_WITH_SIM
    return static_cast<long>(twincam_sim_live_buffers());
#else
    return -1;
#endif
}

}  // namespace twincam::common

#endif  // TWINCAM_APPS_PROCESS_H
