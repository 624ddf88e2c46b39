// The picture shown in place of a camera that is down: dark, with the
// camera's id and how long it has been down in large letters, at the
// camera's size, so that viewers and players keep a stream of the shape
// they expect.
#ifndef TWINCAM_APPS_NO_SIGNAL_H
#define TWINCAM_APPS_NO_SIGNAL_H

#include "frame.h"

namespace twincam::common {

// A placeholder frame in ordinary memory (not a dvpp buffer), read now.
FramePtr NoSignalFrame(int camera, int width, int height, Clock::duration down);

}  // namespace twincam::common

#endif  // TWINCAM_APPS_NO_SIGNAL_H
