// A front end: a protocol the server speaks (HTTP, RTSP) or a job it does
// (recording). Each attaches to the channels it serves through their
// methods and is stopped before they are.
#ifndef TWINCAM_SERVE_FRONT_END_H
#define TWINCAM_SERVE_FRONT_END_H

namespace twincam::serve {

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // Ends its clients and detaches from the channels; the reader may go on.
    virtual void Stop() = 0;
    // What the log calls it.
    virtual const char *name() const = 0;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_FRONT_END_H
