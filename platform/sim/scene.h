// What a simulated camera shows: the test pattern or recorded footage, each
// drawing frame number `sequence` of the configured size into a buffer.
#ifndef TWINCAM_SIM_SCENE_H
#define TWINCAM_SIM_SCENE_H

#include <cstdint>
#include <memory>
#include <string>

namespace twincam::sim {

class Scene {
public:
    virtual ~Scene() = default;
    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
    // Writes the whole NV12 frame `sequence` into out; false when it cannot.
    virtual bool Draw(uint32_t sequence, uint8_t *out) = 0;
};

// Footage from a video file or a directory of PNG or JPEG images, decoded
// ahead of the reader and scaled to width x height; loops at its end.
class Footage {
public:
    virtual ~Footage() = default;
    // A scene playing the footage from its start at the given size, its
    // first frame ready.
    virtual std::shared_ptr<Scene> Play(int32_t width, int32_t height) = 0;
};

// Opens the source and checks that it holds pictures; on failure returns
// nullptr and says why.
std::shared_ptr<Footage> OpenFootage(int32_t camera, const std::string &path, bool stamp, std::string *why);

// The stamp in the top rows of an NV12 frame (nothing below 128 pixels wide).
void DrawStamp(int32_t camera, uint32_t sequence, int32_t width, int32_t height, uint8_t *out);

}  // namespace twincam::sim

#endif  // TWINCAM_SIM_SCENE_H
