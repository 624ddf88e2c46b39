// The simulated cameras' test pattern. Every row is copied from rows built
// once per configuration, so drawing a frame runs at memory speed.
#include "pattern.h"

#include <algorithm>
#include <cstring>

#include "sim_core.h"
#include "stamp_bits.h"

namespace twincam::sim {
namespace {

struct Yuv {
    uint8_t y, u, v;
};

// 75% colour bars, BT.601 limited range.
constexpr Yuv kBars[8] = {
    {180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
    {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128},
};

// Position on a path that runs 0..range and back.
int32_t Bounce(uint64_t t, int32_t range) {
    if (range <= 0) return 0;
    const uint64_t period = 2 * static_cast<uint64_t>(range);
    const auto p = static_cast<int32_t>(t % period);
    return p <= range ? p : static_cast<int32_t>(period) - p;
}

}  // namespace

Pattern::Pattern(int32_t camera, int32_t width, int32_t height)
    : camera_(camera), width_(width), height_(height) {
    // The stamp's blocks are width/64 wide and as tall, as far as the frame allows.
    stampRows_ = width >= TWINCAM_SIM_STAMP_MIN_WIDTH ? std::min(width / 64, height) : 0;
    box_ = std::max(2, std::min(width, height) / 5) & ~1;
    const size_t w = static_cast<size_t>(width);
    barsY_.resize(2 * w);
    barsUV_.resize(2 * w);
    for (size_t x = 0; x < 2 * w; ++x) {
        size_t bar = (x % w) * 8 / w;
        if (camera == 1) bar = 7 - bar;  // camera 1 shows the bars mirrored
        barsY_[x] = kBars[bar].y;
        const size_t pair = x & ~size_t{1};
        size_t pairBar = (pair % w) * 8 / w;
        if (camera == 1) pairBar = 7 - pairBar;
        barsUV_[x] = (x & 1) ? kBars[pairBar].v : kBars[pairBar].u;
    }
    // Camera 0's box is white, camera 1's a saturated red.
    const Yuv box = camera == 1 ? Yuv{81, 90, 240} : Yuv{kWhite, kNeutral, kNeutral};
    boxY_ = box.y;
    boxUV_.resize(static_cast<size_t>(box_));
    for (int32_t i = 0; i < box_; i += 2) boxUV_[i] = box.u, boxUV_[i + 1] = box.v;
}

bool Pattern::Draw(uint32_t sequence, uint8_t *out) {
    const size_t w = static_cast<size_t>(width_);
    const auto h = static_cast<size_t>(height_);
    uint8_t *const y = out;
    uint8_t *const uv = out + w * h;

    // Camera 0's bars scroll right, camera 1's left; the shift stays even
    // so luma and chroma move together.
    const size_t step = std::max<size_t>(2, w / 64) & ~size_t{1};
    size_t shift = (static_cast<size_t>(sequence) * step) % w & ~size_t{1};
    if (camera_ == 0) shift = (w - shift) % w & ~size_t{1};

    const size_t stamp = static_cast<size_t>(stampRows_);
    DrawStamp(camera_, sequence, width_, height_, out);
    for (size_t r = stamp; r < h; ++r) std::memcpy(y + r * w, barsY_.data() + shift, w);
    const size_t stampUV = (stamp + 1) / 2;
    for (size_t r = stampUV; r < h / 2; ++r) std::memcpy(uv + r * w, barsUV_.data() + shift, w);

    // The box bounces across the part of the frame below the stamp.
    const int32_t top = (stampRows_ + 1) & ~1;
    const int32_t side = std::min(box_, height_ - top) & ~1;
    if (side <= 0) return true;
    const auto bx = static_cast<size_t>(Bounce(uint64_t{sequence} * step * 2, width_ - side) & ~1);
    const auto by = static_cast<size_t>(top + (Bounce(uint64_t{sequence} * step, height_ - top - side) & ~1));
    const auto s = static_cast<size_t>(side);
    for (size_t r = by; r < by + s; ++r) std::memset(y + r * w + bx, boxY_, s);
    for (size_t r = by / 2; r < (by + s) / 2; ++r) std::memcpy(uv + r * w + bx, boxUV_.data(), s);
    return true;
}

}  // namespace twincam::sim

extern "C" TWINCAM_SIM_EXPORT int twincam_sim_stamp_decode(const void *luma, int32_t width, int32_t height,
                                                          twincam_sim_stamp *out) {
    using namespace twincam::sim;
    if (luma == nullptr || out == nullptr || width < TWINCAM_SIM_STAMP_MIN_WIDTH || height < 1) return -1;
    const auto *y = static_cast<const uint8_t *>(luma);
    const int32_t block = width / 64;
    const int32_t row = std::min(block, height) / 2;
    uint64_t bits = 0;
    for (int32_t i = 0; i < 64; ++i) {
        const uint8_t v = y[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(i * block + block / 2)];
        if (v > 64 && v < 192) return -1;  // neither black nor white: no stamp here
        bits = bits << 1 | (v >= 192 ? 1u : 0u);
    }
    const auto camera = static_cast<int32_t>((bits >> 48) & 0xFF);
    const auto sequence = static_cast<uint32_t>(bits >> 16);
    if ((bits >> 56) != kStampMarker || StampBits(camera, sequence) != bits) return -1;
    out->camera = camera;
    out->sequence = sequence;
    return 0;
}
