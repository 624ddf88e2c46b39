// The page twincam-serve shows at /: every camera live side by side with
// its figures, updated every second from /stats. Written as page.html and
// embedded at build time; self-contained, with no external resources.
#ifndef TWINCAM_SERVE_PAGE_H
#define TWINCAM_SERVE_PAGE_H

namespace twincam::serve {
extern const char kPage[];
}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_PAGE_H
