#include "CaptureDevices.h"

#include <gst/gst.h>

#include "MediaPipeline.h"

namespace vemo {
namespace host {

namespace {

// The device's path as its provider names it: V4L2 and PipeWire each have their own key.
std::string devicePath(GstDevice* device) {
    std::string path;
    GstStructure* properties = gst_device_get_properties(device);
    if (properties == nullptr) {
        return path;
    }
    for (const char* key : {"device.path", "api.v4l2.path", "object.path"}) {
        if (const char* value = gst_structure_get_string(properties, key)) {
            path = value;
            break;
        }
    }
    gst_structure_free(properties);
    return path;
}

// A caps field as text without GStreamer's type markers: "30/1,15/1".
std::string valueText(const GValue* value) {
    gchar* serialised = gst_value_serialize(value);
    std::string text = serialised != nullptr ? serialised : "";
    g_free(serialised);
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '(') {
            i = text.find(')', i);
            if (i == std::string::npos) {
                break;
            }
        } else if (text[i] != '{' && text[i] != '}' && text[i] != ' ') {
            plain += text[i];
        }
    }
    return plain;
}

std::vector<std::string> deviceModes(GstDevice* device) {
    std::vector<std::string> modes;
    GstCaps* caps = gst_device_get_caps(device);
    if (caps == nullptr) {
        return modes;
    }
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* structure = gst_caps_get_structure(caps, i);
        const GValue* width = gst_structure_get_value(structure, "width");
        const GValue* height = gst_structure_get_value(structure, "height");
        if (width == nullptr || height == nullptr) {
            continue;
        }
        std::string mode = valueText(width) + "x" + valueText(height);
        if (const GValue* rate = gst_structure_get_value(structure, "framerate")) {
            mode += "@" + valueText(rate);
        }
        bool known = false;
        for (const std::string& seen : modes) {
            known = known || seen == mode;
        }
        if (!known) {
            modes.push_back(mode);
        }
    }
    gst_caps_unref(caps);
    return modes;
}

// The monitor's devices, each with a reference.
GList* monitorDevices() {
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    GList* devices = nullptr;
    if (gst_device_monitor_start(monitor)) {
        devices = gst_device_monitor_get_devices(monitor);
        gst_device_monitor_stop(monitor);
    }
    gst_object_unref(monitor);
    return devices;
}

}  // namespace

bool CaptureDevices::list(std::vector<Device>* devices, std::string* error) {
    if (!MediaPipeline::initialise(error)) {
        return false;
    }
    GList* found = monitorDevices();
    for (GList* item = found; item != nullptr; item = item->next) {
        auto* device = static_cast<GstDevice*>(item->data);
        gchar* name = gst_device_get_display_name(device);
        devices->push_back({name != nullptr ? name : "", devicePath(device), deviceModes(device)});
        g_free(name);
    }
    g_list_free_full(found, gst_object_unref);
    return true;
}

void* CaptureDevices::find(const std::string& nameOrPath, std::string* error) {
    if (!MediaPipeline::initialise(error)) {
        return nullptr;
    }
    GList* found = monitorDevices();
    GstDevice* chosen = nullptr;
    for (GList* item = found; item != nullptr && chosen == nullptr; item = item->next) {
        auto* device = static_cast<GstDevice*>(item->data);
        gchar* name = gst_device_get_display_name(device);
        if (nameOrPath.empty() || nameOrPath == devicePath(device) ||
            (name != nullptr && nameOrPath == name)) {
            chosen = GST_DEVICE(gst_object_ref(device));
        }
        g_free(name);
    }
    g_list_free_full(found, gst_object_unref);
    if (chosen == nullptr) {
        *error = nameOrPath.empty()
                     ? "no video capture device (GStreamer's device monitor finds none)"
                     : "no video capture device " + MediaPipeline::quoted(nameOrPath) +
                           " (see vemo-hostd --list-devices)";
    }
    return chosen;
}

bool CaptureDevices::listLines(std::vector<std::string>* lines, std::string* error) {
    std::vector<Device> devices;
    if (!list(&devices, error)) {
        return false;
    }
    for (size_t ix = 0; ix < devices.size(); ++ix) {
        std::string modes;
        for (const std::string& mode : devices[ix].modes) {
            modes += (modes.empty() ? "" : " ") + mode;
        }
        lines->push_back("device " + std::to_string(ix) +
                         " name=" + MediaPipeline::quoted(devices[ix].name) +
                         " path=" + MediaPipeline::quoted(devices[ix].path) +
                         " modes=" + MediaPipeline::quoted(modes));
    }
    if (devices.empty()) {
        lines->push_back("no video capture device");
    }
    return true;
}

}  // namespace host
}  // namespace vemo
