// Frames into GStreamer: a dvpp buffer wrapped, not copied, as a GstBuffer
// that lets go of the frame when GStreamer is done with it, and the appsrc
// that takes them.
#ifndef TWINCAM_APPS_GST_FRAMES_H
#define TWINCAM_APPS_GST_FRAMES_H

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <string>

#include "frame.h"

namespace twincam::common {

// Once per process, before anything else of GStreamer's.
void InitGStreamer();

// The frame's bytes as a read-only GstBuffer; the buffer holds the frame.
GstBuffer *WrapFrame(FramePtr frame);

// Readies an appsrc for NV12 frames of this size and rate, at most
// maxBuffers of them queued. Past that, for a live view the oldest is
// dropped (a viewer wants the newest); a recording wants every frame (and
// the frames carry their own times), so its writer waits with PushWaiting.
enum class FrameUse { kLiveView, kRecording };
void ConfigureFrameSource(GstElement *appsrc, int width, int height, int fps, int maxBuffers, FrameUse use);

// Pushes a buffer into an appsrc readied for kRecording, waiting while
// maxBuffers are queued; gives up (and frees the buffer) once the pipeline
// posts an error, which it returns: a pipeline that failed (a full disk)
// never takes the queue, and a push that blocked would wait for ever.
std::string PushWaiting(GstElement *pipeline, GstElement *appsrc, GstBuffer *buffer, int maxBuffers);

// Whether a pipeline of these elements around the H.264 encoder fragment
// can be made: "", or which element is missing (and its package), or what
// is wrong with the fragment.
std::string CheckH264Pipeline(std::initializer_list<const char *> elements, const std::string &encoder);

// The first error on a bus, "" when there is none; waits up to timeout.
std::string BusError(GstElement *pipeline, GstClockTime timeout);
// Waits up to timeout for the end of the stream: "", or the error that came
// instead, or that none came.
std::string AwaitEnd(GstElement *pipeline, GstClockTime timeout);

}  // namespace twincam::common

#endif  // TWINCAM_APPS_GST_FRAMES_H
