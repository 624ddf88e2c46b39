// The twincam plugin: registers its one element, twincamsrc.
#include <gst/gst.h>

#include "gsttwincamsrc.h"

static gboolean plugin_init(GstPlugin *plugin) {
    GST_DEBUG_CATEGORY_INIT(twincam_src_debug, "twincamsrc", 0, "twincam camera source");
    return gst_element_register(plugin, "twincamsrc", GST_RANK_NONE, GST_TYPE_TWINCAM_SRC);
}

#define PACKAGE "twincam"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, twincam, "Cameras through the twincam library", plugin_init,
                  TWINCAM_VERSION, "Proprietary", "twincam", "twincam")
