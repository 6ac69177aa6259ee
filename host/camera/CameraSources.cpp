#include "CameraSources.h"

namespace vemo {
namespace host {

namespace {

// The pattern's square is orange on cameras that face the back and blue on those that face the
// user.
uint32_t squareColour(const CameraConfig& camera) {
    return camera.facing == kFacingFront ? 0xFF2896E6 : 0xFFE65A28;
}

void hold(const SourceContent& content) {
    if (content.pipeline() != nullptr) {
        content.pipeline()->hold();
    }
}

void release(const SourceContent& content) {
    if (content.pipeline() != nullptr) {
        content.pipeline()->release();
    }
}

}  // namespace

CameraSources::CameraSources(const HostConfig& config) : _config(config) {
    std::string ignored;
    for (const CameraConfig& camera : config.cameras) {
        // The pattern reads no file, so it always loads.
        _current.push_back(SourceContent::load(SourceChoice{}, squareColour(camera), &ignored));
    }
    _instances.assign(_current.size(), 0);
}

bool CameraSources::selectConfigured(std::string* error) {
    for (size_t ix = 0; ix < _config.cameras.size(); ++ix) {
        std::string why;
        if (select(ix, _config.cameras[ix].source, &why) == nullptr) {
            *error = "camera " + std::to_string(ix) + ": " + why;
            return false;
        }
    }
    return true;
}

std::shared_ptr<const SourceContent> CameraSources::select(size_t ix, const SourceChoice& choice,
                                                           std::string* error) {
    std::shared_ptr<const SourceContent> content =
        SourceContent::load(choice, squareColour(_config.cameras[ix]), error);
    if (content != nullptr) {
        std::lock_guard<std::mutex> guard(_lock);
        if (_instances[ix] > 0) {
            hold(*content);
            release(*_current[ix]);
        }
        _current[ix] = content;
    }
    return content;
}

std::shared_ptr<const SourceContent> CameraSources::open(size_t ix) {
    std::lock_guard<std::mutex> guard(_lock);
    if (_instances[ix]++ == 0) {
        hold(*_current[ix]);
    }
    return _current[ix];
}

void CameraSources::close(size_t ix) {
    std::lock_guard<std::mutex> guard(_lock);
    if (--_instances[ix] == 0) {
        release(*_current[ix]);
    }
}

std::shared_ptr<const SourceContent> CameraSources::current(size_t ix) const {
    std::lock_guard<std::mutex> guard(_lock);
    return _current[ix];
}

}  // namespace host
}  // namespace vemo
