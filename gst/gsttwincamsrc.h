// twincamsrc: a live source of NV12 frames from a twincam camera.
#ifndef GST_TWINCAM_SRC_H
#define GST_TWINCAM_SRC_H

#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>

G_BEGIN_DECLS

#define GST_TYPE_TWINCAM_SRC (gst_twincam_src_get_type())
G_DECLARE_FINAL_TYPE(GstTwincamSrc, gst_twincam_src, GST, TWINCAM_SRC, GstPushSrc)

struct _GstTwincamSrc {
    GstPushSrc parent;
    gint camera_id;
    gboolean opened;
    GstVideoInfo info;
    GstClockTime period;
    guint64 frames;
};

GST_DEBUG_CATEGORY_EXTERN(twincam_src_debug);

G_END_DECLS

#endif  // GST_TWINCAM_SRC_H
