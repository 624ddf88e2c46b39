// Figures of the tool's own process, read from /proc, for the tools that
// prove their memory and threads stay flat.
#ifndef TWINCAM_TOOLS_PROCESS_H
#define TWINCAM_TOOLS_PROCESS_H

#include <unistd.h>

#include <cstdio>

namespace twincam::tools {

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

}  // namespace twincam::tools

#endif  // TWINCAM_TOOLS_PROCESS_H
