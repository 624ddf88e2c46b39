#include "no_signal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace twincam::common {
namespace {

constexpr int kGlyphWidth = 5, kGlyphHeight = 7;
constexpr uint8_t kBackground = 40, kInk = 235, kChroma = 128;

// The letters the picture needs, 5x7, a byte per row, the leftmost pixel in bit 4.
const uint8_t *Glyph(char c) {
    static const struct {
        char c;
        uint8_t rows[kGlyphHeight];
    } kFont[] = {
        {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
        {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
        {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
        {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
        {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
        {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'A', {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}},
        {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
        {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
        {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
        {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
        {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
        {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    };
    for (const auto &g : kFont) {
        if (g.c == c) return g.rows;
    }
    return nullptr;  // a space
}

// "0:07", "12:30", "1:02:03".
std::string Elapsed(Clock::duration down) {
    const long s = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(down).count());
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// Draws text on the luma plane, its top left at (x, y), each font pixel scale wide; clipped to the picture.
void DrawText(uint8_t *luma, int width, int height, const std::string &text, int x, int y, int scale) {
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t *rows = Glyph(text[i]);
        for (int r = 0; rows != nullptr && r < kGlyphHeight * scale; ++r) {
            const int py = y + r;
            for (int c = 0; py >= 0 && py < height && c < kGlyphWidth * scale; ++c) {
                const int px = x + static_cast<int>(i) * (kGlyphWidth + 1) * scale + c;
                if (px >= 0 && px < width && (rows[r / scale] >> (kGlyphWidth - 1 - c / scale) & 1)) {
                    luma[static_cast<size_t>(py) * width + px] = kInk;
                }
            }
        }
    }
}

}  // namespace

FramePtr NoSignalFrame(int camera, int width, int height, Clock::duration down) {
    const size_t lumaSize = static_cast<size_t>(width) * static_cast<size_t>(height);
    auto *pixels = new std::vector<uint8_t>(lumaSize + lumaSize / 2, kChroma);
    std::memset(pixels->data(), kBackground, lumaSize);
    const std::string lines[] = {"CAMERA " + std::to_string(camera), "NO SIGNAL", "DOWN " + Elapsed(down)};
    const int columns = 9 * (kGlyphWidth + 1), rows = 3 * (kGlyphHeight + 3);
    const int scale = std::max(1, std::min(width * 3 / 4 / columns, height / 2 / rows));
    int y = (height - rows * scale) / 2;
    for (const std::string &line : lines) {
        const int lineWidth = static_cast<int>(line.size()) * (kGlyphWidth + 1) * scale;
        DrawText(pixels->data(), width, height, line, (width - lineWidth) / 2, y, scale);
        y += (kGlyphHeight + 3) * scale;
    }
    Frame f;
    f.camera = camera;
    f.width = width;
    f.height = height;
    f.data = pixels->data();
    f.size = pixels->size();
    f.readAt = Clock::now();
    f.wallAt = WallClock::now();
    f.placeholder = true;
    return FramePtr(new Frame(f), [pixels](const Frame *frame) {
        delete pixels;
        delete frame;
    });
}

}  // namespace twincam::common
