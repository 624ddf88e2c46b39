#include "capture_options.h"

#include <algorithm>

namespace twincam::capture {
namespace {

void AddOutputOptions(CLI::App &app, Options *opt) {
    app.add_option("--frames", opt->frames, "Frames to capture per camera; 0 captures until Ctrl-C or SIGTERM")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--output", opt->output, "Directory for the frames (created if missing)")->capture_default_str();
    app.add_option("--format", opt->formats,
                   "Outputs, comma-separated: png, jpeg, nv12 (one file per frame), y4m, mp4 (one video per "
                   "camera); both = png,nv12")
        ->delimiter(',')
        ->check(CLI::IsMember({"png", "jpeg", "nv12", "y4m", "mp4", "both"}))
        ->capture_default_str();
    app.add_option("--quality", opt->quality, "JPEG quality")->check(CLI::Range(1, 100))->capture_default_str();
    app.add_option("--png-level", opt->pngLevel, "PNG zlib level, 0 (fastest) to 9 (smallest)")
        ->check(CLI::Range(0, 9))
        ->capture_default_str();
    app.add_option("--sheet", opt->sheet, "Also write all frames as one contact sheet PNG");
    app.add_option("--segment", opt->segmentSeconds, "mp4: cut each camera's video into pieces of this many seconds")
        ->check(CLI::PositiveNumber);
    common::AddH264Options(app, opt->h264);
}

void AddPairOptions(CLI::App &app, Options *opt) {
    app.add_flag("--pair", opt->pair,
                 "Read both cameras as a stereo pair: write matched frames only, as pair-<N>-cam<ID>");
    app.add_flag("--side-by-side", opt->sideBySide,
                 "With --pair: both frames of a pair in one picture, pair-<N> (camera 0 on the left)");
    app.add_option("--max-skew", opt->maxSkewMs,
                   "With --pair: the most two frames of a pair may be apart, ms (default half a frame period)")
        ->check(CLI::PositiveNumber);
}

// --pair reads both cameras, 0 as the first.
std::string CheckPairOptions(Options *opt) {
    if (!opt->pair) return opt->maxSkewMs > 0 ? "--max-skew: only with --pair" : "";
    if (opt->cameras.size() == 1) return "--pair: reads both cameras; leave out --camera or give 0 and 1";
    opt->cameras = {0, 1};
    return "";
}

void AddWriterOptions(CLI::App &app, Options *opt) {
    app.add_option("--queue", opt->queue, "Frames that may wait for a writer; past it the newest is dropped")
        ->check(CLI::Range(1, 1024))
        ->capture_default_str();
    app.add_option("--writers", opt->writers, "Writer threads")->check(CLI::Range(1, 64))->capture_default_str();
    app.add_option("--slow-writer", opt->slowWriterMs, "Testing: each writer pauses this long per frame (ms)")
        ->group("")
        ->check(CLI::Range(0, 10000));
    app.add_flag("--quiet", opt->quiet, "No progress bar and no summary");
    app.add_flag("--keep-going", opt->keepGoing,
                 "A camera that fails is closed and opened again until it is back, rather than ending the capture; "
                 "the outage shows in the CSV and the summary");
    common::AddReopenOption(app, opt->reopenMaxSeconds);
}

// Each format once, in the order given; "both" stands for png and nv12.
std::vector<std::string> DistinctFormats(const std::vector<std::string> &given) {
    std::vector<std::string> formats;
    for (const std::string &f : given) {
        for (const std::string &e : f == "both" ? std::vector<std::string>{"png", "nv12"} : std::vector{f}) {
            if (std::find(formats.begin(), formats.end(), e) == formats.end()) formats.push_back(e);
        }
    }
    return formats;
}

}  // namespace

std::optional<int> ParseOptions(int argc, char **argv, Options *opt) {
    CLI::App app{"Capture frames from twincam cameras into PNG, JPEG, NV12, Y4M or MP4 files.", "twincam-capture"};
    app.set_version_flag("--version", "twincam-capture " TWINCAM_VERSION);
    common::AddCameraOptions(app, *opt, "Camera to read, 0 or 1; repeat for both (default 0)");
    AddOutputOptions(app, opt);
    AddPairOptions(app, opt);
    AddWriterOptions(app, opt);
    if (const std::optional<int> exit = common::ParseCommandLine(app, argc, argv)) return exit;
    opt->pair = opt->pair || opt->sideBySide;
    const std::vector<int> defaults = opt->pair ? std::vector<int>{0, 1} : std::vector<int>{0};
    if (const std::string wrong = common::CheckCameraOptions(*opt, defaults); !wrong.empty()) {
        return common::Usage(wrong);
    }
    if (const std::string wrong = CheckPairOptions(opt); !wrong.empty()) return common::Usage(wrong);
    opt->formats = DistinctFormats(opt->formats);
    const bool mp4 = std::find(opt->formats.begin(), opt->formats.end(), "mp4") != opt->formats.end();
    if (opt->segmentSeconds > 0 && !mp4) return common::Usage("--segment: only with --format mp4");
    return std::nullopt;
}

}  // namespace twincam::capture
