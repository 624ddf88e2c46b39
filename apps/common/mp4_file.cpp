#include "mp4_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace twincam::common {
namespace {

constexpr guint kFragmentMs = 1000;

uint32_t Be32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// The box of type `type` among the boxes in [data, data + size), or nullptr; *boxSize its size.
const uint8_t *FindBox(const uint8_t *data, size_t size, const char *type, size_t *boxSize) {
    for (size_t at = 0; at + 8 <= size;) {
        const size_t box = Be32(data + at);
        if (box < 8 || at + box > size) return nullptr;
        if (std::memcmp(data + at + 4, type, 4) == 0) {
            *boxSize = box;
            return data + at;
        }
        at += box;
    }
    return nullptr;
}

// The size of the box of this type that data starts with, or 0.
size_t LeadingBox(const uint8_t *data, size_t size, const char *type) {
    if (size < 8 || std::memcmp(data + 4, type, 4) != 0) return 0;
    const size_t box = Be32(data);
    if (box != 1) return box;
    // A 64-bit size follows the type.
    return size < 16 ? 0 : static_cast<size_t>(static_cast<uint64_t>(Be32(data + 8)) << 32 | Be32(data + 12));
}

// The samples a fragment's moof box holds (moof > traf > trun), or -1 when it is no moof.
long FragmentFrames(const uint8_t *data, size_t size) {
    size_t moofSize = 0, trafSize = 0, trunSize = 0;
    const uint8_t *moof = FindBox(data, size, "moof", &moofSize);
    const uint8_t *traf = moof ? FindBox(moof + 8, moofSize - 8, "traf", &trafSize) : nullptr;
    const uint8_t *trun = traf ? FindBox(traf + 8, trafSize - 8, "trun", &trunSize) : nullptr;
    if (moof != data) return -1;
    return trun != nullptr && trunSize >= 16 ? static_cast<long>(Be32(trun + 12)) : 0;
}

}  // namespace

std::string Mp4FileDescription(const std::string &location, GstClockTime segment) {
    const std::string fragments = "fragment-duration=" + std::to_string(kFragmentMs);
    if (segment == 0) {
        return "mp4mux " + fragments + " ! filesink name=file buffer-mode=unbuffered location=\"" + location + "\"";
    }
    return Mp4PiecesDescription(location) + " max-size-time=" + std::to_string(segment);
}

std::string Mp4PiecesDescription(const std::string &location) {
    // Each piece gets a muxer and a file of its own, made as the single file's are.
    return "splitmuxsink name=file async-finalize=true muxer-factory=mp4mux muxer-properties=\"properties,fragment-duration=" +
           std::to_string(kFragmentMs) + "\" sink-factory=filesink sink-properties=\"properties,buffer-mode=2\" location=\"" +
           location + "\"";
}

Mp4Saved::Mp4Saved(GstElement *pipeline) {
    GstElement *file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
    if (g_strcmp0(G_OBJECT_TYPE_NAME(file), "GstSplitMuxSink") == 0) {
        g_signal_connect(file, "sink-added",
                         G_CALLBACK(+[](GstElement *, GstElement *sink, Mp4Saved *self) { self->Watch(sink); }), this);
    } else {
        Watch(file);
    }
    gst_object_unref(file);
}

Mp4Saved::~Mp4Saved() {
    for (File &f : files_) Forget(f);
}

void Mp4Saved::Forget(File &file) {
    GstPad *pad = gst_element_get_static_pad(file.sink, "sink");
    gst_pad_remove_probe(pad, file.probe);
    gst_object_unref(pad);
    gst_object_unref(file.sink);
}

void Mp4Saved::Watch(GstElement *sink) {
    File *file = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A file three pieces back is long closed: summed up, so a long recording keeps a short list.
        if (files_.size() >= 3) {
            frames_ += WholeFrames(files_.front());
            bytes_ += static_cast<long long>(files_.front().written);
            Forget(files_.front());
            files_.pop_front();
        }
        file = &files_.emplace_back(File{this, GST_ELEMENT(gst_object_ref(sink)), "", 0, {}, 0});
    }
    GstPad *pad = gst_element_get_static_pad(sink, "sink");
    const gulong probe = gst_pad_add_probe(
        pad,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                     GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        [](GstPad *, GstPadProbeInfo *info, gpointer data) {
            auto *f = static_cast<File *>(data);
            if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
                f->owner->Saw(f, GST_PAD_PROBE_INFO_BUFFER(info));
            } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
                GstBufferList *list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
                for (guint i = 0; i < gst_buffer_list_length(list); ++i) f->owner->Saw(f, gst_buffer_list_get(list, i));
            } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
                f->owner->Ended(f);
            }
            return GST_PAD_PROBE_OK;
        },
        file, nullptr);
    gst_object_unref(pad);
    std::lock_guard<std::mutex> lock(mutex_);
    file->probe = probe;
}

void Mp4Saved::Saw(File *file, GstBuffer *buffer) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
    const long frames = FragmentFrames(map.data, map.size);
    const size_t mdat = LeadingBox(map.data, map.size, "mdat");
    std::lock_guard<std::mutex> lock(mutex_);
    if (file->path.empty()) {
        gchar *location = nullptr;
        g_object_get(file->sink, "location", &location, nullptr);
        file->path = location != nullptr ? location : "";
        g_free(location);
    }
    // The second fragment begins: the first is whole on disk, written unbuffered before it.
    if (frames >= 0 && file->fragments.size() == 1) Publish(*file);
    if (frames >= 0) file->fragments.push_back({file->written, 0, frames});
    // The fragment's samples follow its moof in one mdat box.
    if (mdat > 0 && !file->fragments.empty() && file->fragments.back().end == 0) {
        file->fragments.back().end = file->written + mdat;
    }
    file->written += map.size;
    gst_buffer_unmap(buffer, &map);
}

void Mp4Saved::Ended(File *file) {
    std::lock_guard<std::mutex> lock(mutex_);
    Publish(*file);
}

void Mp4Saved::Publish(File &file) {
    const size_t slash = file.path.rfind('/') + 1;
    if (file.path.size() <= slash || file.path[slash] != '.') return;
    const std::string visible = file.path.substr(0, slash) + file.path.substr(slash + 1);
    if (std::rename(file.path.c_str(), visible.c_str()) == 0) file.path = visible;
}

// A fragment is whole once its last byte is on disk: a full disk or a cut
// leaves the file short of it.
long Mp4Saved::WholeFrames(const File &file) {
    struct stat st {};
    const size_t onDisk = stat(file.path.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
    long frames = 0;
    for (const Fragment &f : file.fragments) frames += f.end > 0 && f.end <= onDisk ? f.frames : 0;
    return frames;
}

long long Mp4Saved::Bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    long long bytes = bytes_;
    for (const File &f : files_) bytes += static_cast<long long>(f.written);
    return bytes;
}

long Mp4Saved::Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    long frames = frames_;
    for (const File &f : files_) frames += WholeFrames(f);
    return frames;
}

std::string Mp4Saved::Location() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (files_.empty()) return "";
    if (!files_.back().path.empty()) return files_.back().path;
    gchar *location = nullptr;
    g_object_get(files_.back().sink, "location", &location, nullptr);
    std::string text = location != nullptr ? location : "";
    g_free(location);
    return text;
}

}  // namespace twincam::common
