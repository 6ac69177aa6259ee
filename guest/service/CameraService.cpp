#include "CameraService.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace vemo {
namespace guest {

namespace {

// Returns what disqualifies the descriptor, or an empty text when it is a camera module.
std::string checkDescriptor(const vemo_camera_module_t& descriptor) {
    if (descriptor.common.tag != HARDWARE_MODULE_TAG) {
        char text[64];
        snprintf(text, sizeof(text), "not a hardware module (tag 0x%08x)",
                 static_cast<unsigned>(descriptor.common.tag));
        return text;
    }
    if (descriptor.common.id == nullptr) {
        return "the module has no id";
    }
    if (strcmp(descriptor.common.id, CAMERA_HARDWARE_MODULE_ID) != 0) {
        return std::string("module id is \"") + descriptor.common.id + "\", not \"" +
               CAMERA_HARDWARE_MODULE_ID + "\"";
    }
    if (descriptor.get_number_of_cameras == nullptr) {
        return "the descriptor has no get_number_of_cameras";
    }
    if (descriptor.get_current_orientation == nullptr) {
        return "the descriptor has no get_current_orientation";
    }
    if (descriptor.get_camera_info == nullptr) {
        return "the descriptor has no get_camera_info";
    }
    return std::string();
}

}  // namespace

std::unique_ptr<CameraService> CameraService::load(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        *error = "cannot load the camera module: " + std::string(reason != nullptr ? reason : path);
        return nullptr;
    }
    auto* descriptor =
        static_cast<vemo_camera_module_t*>(dlsym(handle, HAL_MODULE_INFO_SYM_AS_STR));
    const std::string problem = descriptor == nullptr ? "exports no " HAL_MODULE_INFO_SYM_AS_STR
                                                      : checkDescriptor(*descriptor);
    if (!problem.empty()) {
        dlclose(handle);
        *error = path + ": " + problem;
        return nullptr;
    }
    // The platform's loader records the handle in the descriptor it has loaded.
    descriptor->common.dso = handle;
    return std::unique_ptr<CameraService>(new CameraService(handle, descriptor));
}

CameraService::CameraService(void* handle, vemo_camera_module_t* descriptor)
    : _handle(handle), _descriptor(descriptor) {}

CameraService::~CameraService() {
    dlclose(_handle);
}

int CameraService::getNumberOfCameras() const {
    return _descriptor->get_number_of_cameras();
}

int CameraService::getCurrentOrientation() const {
    return _descriptor->get_current_orientation();
}

int CameraService::getCameraInfo(int id, camera_info* info) const {
    return _descriptor->get_camera_info(id, info);
}

int CameraService::openDevice(const char* id, hw_device_t** device) const {
    const hw_module_methods_t* methods = _descriptor->common.methods;
    if (methods == nullptr || methods->open == nullptr) {
        return -ENOSYS;
    }
    return methods->open(&_descriptor->common, id, device);
}

int CameraService::open(const char* id, std::unique_ptr<CameraDevice>* device) const {
    hw_device_t* opened = nullptr;
    const int result = openDevice(id, &opened);
    if (result != 0) {
        return result;
    }
    if (opened == nullptr || opened->close == nullptr) {
        return -EPROTO;
    }
    // The device header is the first member of the camera device.
    auto* camera = reinterpret_cast<camera_device_t*>(opened);
    if (camera->ops == nullptr) {
        opened->close(opened);
        return -EPROTO;
    }
    *device = std::make_unique<CameraDevice>(camera);
    return 0;
}

int CameraService::open(int id, std::unique_ptr<CameraDevice>* device) const {
    return open(std::to_string(id).c_str(), device);
}

}  // namespace guest
}  // namespace vemo
