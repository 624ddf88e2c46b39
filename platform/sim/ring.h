// The most recent entries up to a fixed number, oldest first: the journal's
// and the application log's storage. Not locked; its owner locks.
#ifndef TWINCAM_SIM_RING_H
#define TWINCAM_SIM_RING_H

#include <cstddef>
#include <vector>

namespace twincam::sim {

template <typename T>
class Ring {
public:
    explicit Ring(size_t capacity) : entries_(capacity) {}

    // Past the capacity, the oldest entry makes room.
    void Push(const T &entry) {
        entries_[(head_ + size_) % entries_.size()] = entry;
        if (size_ < entries_.size()) ++size_;
        else head_ = (head_ + 1) % entries_.size();
    }
    // Entry index (0 = oldest kept) into *out; false past the end.
    bool Get(size_t index, T *out) const {
        if (index >= size_ || out == nullptr) return false;
        *out = entries_[(head_ + index) % entries_.size()];
        return true;
    }
    size_t Size() const { return size_; }
    void Clear() { head_ = size_ = 0; }

private:
    std::vector<T> entries_;
    size_t head_ = 0;  // index of the oldest entry
    size_t size_ = 0;
};

}  // namespace twincam::sim

#endif  // TWINCAM_SIM_RING_H
