/* The registry and frame layouts as a C compiler sees them. */
#include "layout.h"

size_t twincam_c_layout(size_t *out, size_t max) {
    const size_t values[] = {TWINCAM_LAYOUT_VALUES};
    size_t n = sizeof values / sizeof values[0];
    for (size_t i = 0; i < n && i < max; ++i) out[i] = values[i];
    return n;
}
