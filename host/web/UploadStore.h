#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RuntimeDirectory.h"
#include "SourceChoice.h"

namespace vemo {
namespace host {

// Files the web console's users hand over as camera sources (a picture, a clip), kept in the
// host's runtime directory under names the host makes ("upload-0-3.png": camera 0, the third
// upload), so that nothing a browser sends can name or reach another file. A camera's upload is
// removed when the camera takes another source from the console, and every upload when the
// store goes. Thread-safe.
class UploadStore {
public:
    // directory must outlive the store; it is made on the first upload.
    UploadStore(RuntimeDirectory& directory, size_t cameras);
    ~UploadStore();
    UploadStore(const UploadStore&) = delete;
    UploadStore& operator=(const UploadStore&) = delete;

    // What bytes hold, told by their first bytes whatever the file was called: the source kind
    // and file extension, or nothing with *error for anything that is not a picture or clip the
    // host can show.
    struct Kind {
        SourceChoice::Kind kind;
        const char* extension;
    };
    static std::optional<Kind> sniff(std::string_view bytes, std::string* error);

    // Writes bytes as camera ix's next upload and returns the choice that shows it; nothing
    // with *error when they are not a picture or clip or can't be written.
    std::optional<SourceChoice> add(size_t ix, std::string_view bytes, std::string* error);
    // Camera ix now shows choice: its earlier upload, if any and not choice's file, goes; when
    // choice was not taken, pass it back to drop() instead.
    void adopt(size_t ix, const SourceChoice& choice);
    // Removes the file of a choice add() made that the camera did not take.
    void drop(const SourceChoice& choice);

private:
    RuntimeDirectory& _directory;
    std::mutex _lock;
    unsigned _count = 0;              // guarded by _lock
    std::vector<std::string> _shown;  // guarded by _lock; by camera, empty for none
};

}  // namespace host
}  // namespace vemo
