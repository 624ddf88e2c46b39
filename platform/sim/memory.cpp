// dvpp memory stand-in: host memory with live-buffer accounting and a small
// pool of freed buffers, as a device memory pool keeps them, so a steady
// capture loop neither maps fresh pages nor returns them to the system.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "sim_core.h"

namespace twincam::sim {
namespace {

constexpr uint64_t kAlignment = 128;                 // what dvpp hardware expects
constexpr uint64_t kMaxBuffer = uint64_t{1} << 30;   // larger requests are refused
constexpr size_t kPoolCount = 8;                     // freed buffers kept at most
constexpr uint64_t kPoolBytes = uint64_t{256} << 20; // and their bytes at most

struct Live {
    uint64_t size;
    uint64_t capacity;
    uint64_t number;
    bool refused = false;  // a scheduled fault refused to free it
};

struct Pooled {
    void *ptr;
    uint64_t capacity;
};

struct Memory {
    std::mutex mutex;
    std::unordered_map<const void *, Live> live;
    std::vector<Pooled> pool;
    uint64_t poolBytes = 0;
    uint64_t liveBytes = 0;
    uint64_t nextNumber = 1;
    size_t peak = 0;

    Memory() {
        live.reserve(64);
        pool.reserve(kPoolCount);
    }
    // A buffer still live at exit was never freed: say so, as a device's
    // memory checker would.
    ~Memory() {
        for (const Pooled &p : pool) std::free(p.ptr);
        if (!live.empty()) {
            std::fprintf(stderr, "twincam-sim: %zu dvpp buffers (%llu bytes) never freed\n", live.size(),
                         static_cast<unsigned long long>(liveBytes));
        }
        // A buffer kept only because the schedule refused its free is the
        // stand-in's own doing; any other is left for a leak checker to find.
        for (const auto &entry : live) {
            if (entry.second.refused) std::free(const_cast<void *>(entry.first));
        }
    }
};

Memory &TheMemory() {
    static Memory memory;
    return memory;
}

uint64_t Capacity(uint64_t size) { return (size + kAlignment - 1) / kAlignment * kAlignment; }

void Record(twincam_sim_op op, uint64_t size, uint64_t number, int32_t result) {
    twincam_sim_call call{};
    call.op = op;
    call.size = size;
    call.buffer = number;
    call.result = result;
    Journal(call);
}

}  // namespace

int32_t DvppMalloc(void **ptr, uint64_t size) {
    int32_t fault = 0;
    if (TakeFault(TWINCAM_SIM_OP_MALLOC, &fault)) {
        const int32_t code = fault != 0 ? fault : ACL_ERROR_BAD_ALLOC;
        Record(TWINCAM_SIM_OP_MALLOC, size, 0, code);
        return code;
    }
    if (ptr == nullptr || size == 0 || size > kMaxBuffer) {
        const int32_t code = ptr == nullptr || size == 0 ? ACL_ERROR_INVALID_PARAM : ACL_ERROR_BAD_ALLOC;
        Record(TWINCAM_SIM_OP_MALLOC, size, 0, code);
        return code;
    }
    const uint64_t capacity = Capacity(size);
    Memory &m = TheMemory();
    void *buffer = nullptr;
    uint64_t number = 0;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        for (size_t i = 0; i < m.pool.size(); ++i) {
            if (m.pool[i].capacity == capacity) {
                buffer = m.pool[i].ptr;
                m.poolBytes -= capacity;
                m.pool[i] = m.pool.back();
                m.pool.pop_back();
                break;
            }
        }
    }
    if (buffer == nullptr) buffer = std::aligned_alloc(kAlignment, capacity);
    if (buffer == nullptr) {
        Record(TWINCAM_SIM_OP_MALLOC, size, 0, ACL_ERROR_BAD_ALLOC);
        return ACL_ERROR_BAD_ALLOC;
    }
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        number = m.nextNumber++;
        m.live.emplace(buffer, Live{size, capacity, number});
        m.liveBytes += size;
        if (m.live.size() > m.peak) m.peak = m.live.size();
    }
    *ptr = buffer;
    Record(TWINCAM_SIM_OP_MALLOC, size, number, 0);
    return 0;
}

int32_t DvppFree(void *ptr) {
    int32_t fault = 0;
    const bool refused = TakeFault(TWINCAM_SIM_OP_FREE, &fault);
    Memory &m = TheMemory();
    void *release = nullptr;
    uint64_t number = 0;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        auto it = m.live.find(ptr);
        if (it == m.live.end()) {
            // A pointer never handed out, or freed twice: refused, never touched.
            Record(TWINCAM_SIM_OP_FREE, 0, 0, ACL_ERROR_INVALID_PARAM);
            return ACL_ERROR_INVALID_PARAM;
        }
        const Live info = it->second;
        number = info.number;
        if (refused) {
            // A refused free leaves the buffer live and its owner's to free.
            it->second.refused = true;
            const int32_t code = fault != 0 ? fault : ACL_ERROR_INVALID_PARAM;
            Record(TWINCAM_SIM_OP_FREE, 0, number, code);
            return code;
        }
        m.live.erase(it);
        m.liveBytes -= info.size;
        if (m.pool.size() < kPoolCount && m.poolBytes + info.capacity <= kPoolBytes) {
            m.pool.push_back(Pooled{ptr, info.capacity});
            m.poolBytes += info.capacity;
        } else {
            release = ptr;
        }
    }
    std::free(release);
    Record(TWINCAM_SIM_OP_FREE, 0, number, 0);
    return 0;
}

uint64_t BufferNumber(const void *ptr) {
    Memory &m = TheMemory();
    std::lock_guard<std::mutex> lock(m.mutex);
    auto it = m.live.find(ptr);
    return it == m.live.end() ? 0 : it->second.number;
}

void MemoryReset() {
    Memory &m = TheMemory();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.peak = m.live.size();
}

}  // namespace twincam::sim

using namespace twincam::sim;

extern "C" {

TWINCAM_SIM_EXPORT size_t twincam_sim_live_buffers(void) {
    std::lock_guard<std::mutex> lock(TheMemory().mutex);
    return TheMemory().live.size();
}

TWINCAM_SIM_EXPORT uint64_t twincam_sim_live_bytes(void) {
    std::lock_guard<std::mutex> lock(TheMemory().mutex);
    return TheMemory().liveBytes;
}

TWINCAM_SIM_EXPORT uint64_t twincam_sim_buffer_number(const void *ptr) { return BufferNumber(ptr); }

TWINCAM_SIM_EXPORT size_t twincam_sim_peak_buffers(void) {
    std::lock_guard<std::mutex> lock(TheMemory().mutex);
    return TheMemory().peak;
}

}  // extern "C"
