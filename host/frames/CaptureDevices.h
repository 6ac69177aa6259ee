#pragma once

#include <string>
#include <vector>

namespace vemo {
namespace host {

// The video capture devices GStreamer's device monitor sees (class Video/Source), whatever the
// capture system behind them (V4L2, PipeWire, AVFoundation, Media Foundation...).
class CaptureDevices {
public:
    struct Device {
        std::string name;  // as the system shows it
        std::string path;  // the device node or object path; empty when the system has none
        // What it offers, one size with its rates each: "640x480@30/1,15/1".
        std::vector<std::string> modes;
    };

    // Every device, in the monitor's order; false with *error when GStreamer can't start.
    static bool list(std::vector<Device>* devices, std::string* error);

    // The device whose path or name is nameOrPath, or the first when it is empty, as a
    // GstDevice* with a reference for the caller; null with *error, one sentence, when there is
    // none.
    static void* find(const std::string& nameOrPath, std::string* error);

    // One line a device, "device IX name=<quoted> path=<quoted> modes=<quoted>", or the one
    // line "no video capture device"; false with *error when GStreamer can't start.
    static bool listLines(std::vector<std::string>* lines, std::string* error);
};

}  // namespace host
}  // namespace vemo
