#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HostConfig.h"
#include "SourceChoice.h"
#include "SourceContent.h"

namespace vemo {
namespace host {

// The frame source each configured camera shows now. Every camera starts with the test
// pattern; selectConfigured() loads the sources of the configuration, and select() changes a
// camera's source while the host runs. The instances of a camera look at current() when they
// capture, so a change shows from the next captured picture on, without a break in anyone's
// stream. Thread-safe: files are loaded without the lock, which is held only to swap a
// pointer.
//
// A source that GStreamer runs belongs to the camera, not to an instance: one pipeline however
// many instances have the camera open (open/close), running while any has, stopped a few
// seconds after the last closes (MediaPipeline), so that a webcam's light is off when nobody
// films.
class CameraSources {
public:
    // config must outlive the object.
    explicit CameraSources(const HostConfig& config);

    // Loads every camera's configured source. False with *error ("camera IX: ...") at the first
    // that can't be loaded.
    bool selectConfigured(std::string* error);

    // Loads choice and makes it camera ix's source, and returns it. Null with *error, one
    // sentence that names the file, when it can't be loaded; the camera then keeps its source.
    // ix must be below the number of cameras.
    std::shared_ptr<const SourceContent> select(size_t ix, const SourceChoice& choice,
                                                std::string* error);

    // Camera ix's source now; never null.
    std::shared_ptr<const SourceContent> current(size_t ix) const;

    // An instance opens camera ix: its pipeline runs from now on. Returns the current source.
    std::shared_ptr<const SourceContent> open(size_t ix);
    // An instance of camera ix is gone.
    void close(size_t ix);

private:
    const HostConfig& _config;
    mutable std::mutex _lock;
    std::vector<std::shared_ptr<const SourceContent>> _current;  // guarded by _lock
    std::vector<int> _instances;                                 // guarded by _lock
};

}  // namespace host
}  // namespace vemo
