#include "no_signal.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace twincam::common {
namespace {

constexpr int kGlyphWidth = 5, kGlyphHeight = 7;
constexpr uint8_t kBackground = 40, kInk = 235, kChroma = 128;

// The letters the picture needs, 5x7: each letter, then its seven rows in
// hex, the leftmost pixel in bit 4.
constexpr std::string_view kFont =
    "00E11131519110E 1040C040404040E 20E11010204081F 31F02040201110E 402060A121F0202 51F101E0101110E "
    "60608101E11110E 71F010204080808 80E11110E11110E 90E11110F01020C :000C0C000C0C00 A0E1111111F1111 "
    "C0E11101010110E D1C12111111121C E1F10101E10101F G0E11101711110F I0E04040404040E L1010101010101F "
    "M111B1515111111 N11111915131111 O0E11111111110E R1E11111E141211 S0F10100E01011E W1111111515150A ";

// The font's rows of c, or nullptr for a space (and anything it lacks).
const uint8_t *Glyph(char c) {
    static const auto glyphs = [] {
        std::array<std::array<uint8_t, kGlyphHeight>, 128> rows{};
        std::array<bool, 128> known{};
        for (size_t at = 0; at + 15 <= kFont.size(); at += 16) {
            const auto letter = static_cast<unsigned char>(kFont[at]);
            for (int r = 0; r < kGlyphHeight; ++r) {
                rows[letter][r] = static_cast<uint8_t>(std::stoi(std::string(kFont.substr(at + 1 + 2 * r, 2)), nullptr, 16));
            }
            known[letter] = true;
        }
        return std::make_pair(rows, known);
    }();
    const auto letter = static_cast<unsigned char>(c);
    return letter < 128 && glyphs.second[letter] ? glyphs.first[letter].data() : nullptr;
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
