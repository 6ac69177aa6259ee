#include "ClipEncoder.h"

#include <gst/gst.h>
#include <stdio.h>
#include <unistd.h>

#include "Progress.h"

namespace vemo {
namespace tools {

namespace {

// The encoder and muxer for out's extension, or null when out is no kind of clip they make.
const char* encoderFor(const std::string& out) {
    const struct {
        const char* extension;
        const char* elements;
    } kinds[] = {
        {".webm", "vp8enc deadline=1 cpu-used=8 ! webmmux"},
        {".mp4", "x264enc speed-preset=veryfast ! h264parse ! mp4mux"},
        {".mkv", "x264enc speed-preset=veryfast ! h264parse ! matroskamux"},
    };
    for (const auto& kind : kinds) {
        const std::string extension = kind.extension;
        if (out.size() > extension.size() &&
            out.compare(out.size() - extension.size(), extension.size(), extension) == 0) {
            return kind.elements;
        }
    }
    return nullptr;
}

std::string quoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string ClipEncoder::rawPath(const std::string& out) {
    return encoderFor(out) == nullptr ? out : out + ".raw.y4m";
}

bool ClipEncoder::encode(const std::string& raw, const std::string& out, std::string* error) {
    GError* gerror = nullptr;
    GstElement* pipeline = nullptr;
    if (gst_init_check(nullptr, nullptr, &gerror)) {
        const std::string description = "filesrc location=" + quoted(raw) +
                                        " ! y4mdec ! videoconvert ! " + encoderFor(out) +
                                        " ! filesink location=" + quoted(out);
        pipeline = gst_parse_launch(description.c_str(), &gerror);
    }
    if (pipeline == nullptr || gerror != nullptr) {
        *error = "cannot encode " + out + ": " + (gerror != nullptr ? gerror->message : "");
        g_clear_error(&gerror);
        if (pipeline != nullptr) {
            gst_object_unref(pipeline);
        }
        ::unlink(raw.c_str());
        return false;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    bool done = false;
    {
        Progress progress;
        for (;;) {
            GstMessage* message = gst_bus_timed_pop_filtered(
                bus, 100 * GST_MSECOND,
                static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
            if (message != nullptr) {
                done = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
                if (!done) {
                    GError* failure = nullptr;
                    gst_message_parse_error(message, &failure, nullptr);
                    *error = "cannot encode " + out + ": " +
                             (failure != nullptr ? failure->message : "");
                    g_clear_error(&failure);
                }
                gst_message_unref(message);
                break;
            }
            gint64 position = 0;
            gint64 duration = 0;
            if (gst_element_query_position(pipeline, GST_FORMAT_TIME, &position) &&
                gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) && duration > 0) {
                char line[64];
                snprintf(line, sizeof(line), "encoding: %d%%",
                         static_cast<int>(position * 100 / duration));
                progress.show(line);
            }
        }
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    ::unlink(raw.c_str());
    if (!done) {
        ::unlink(out.c_str());
    }
    return done;
}

}  // namespace tools
}  // namespace vemo
