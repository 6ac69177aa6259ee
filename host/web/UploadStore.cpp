#include "UploadStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Log.h"

namespace vemo {
namespace host {

namespace {

bool startsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

}  // namespace

UploadStore::UploadStore(RuntimeDirectory& directory, size_t cameras)
    : _directory(directory), _shown(cameras) {}

UploadStore::~UploadStore() {
    for (const std::string& path : _shown) {
        if (!path.empty()) {
            ::unlink(path.c_str());
        }
    }
}

std::optional<UploadStore::Kind> UploadStore::sniff(std::string_view bytes, std::string* error) {
    if (bytes.empty()) {
        *error = "the upload is empty";
        return std::nullopt;
    }
    if (startsWith(bytes, "\xFF\xD8\xFF")) {
        return Kind{SourceChoice::Kind::kImage, "jpg"};
    }
    if (startsWith(bytes, "\x89PNG\r\n\x1A\n")) {
        return Kind{SourceChoice::Kind::kImage, "png"};
    }
    if (startsWith(bytes, "YUV4MPEG2 ")) {
        return Kind{SourceChoice::Kind::kClip, "y4m"};
    }
    // Containers GStreamer decodes: MP4 and QuickTime, Matroska and WebM, AVI.
    if (bytes.size() >= 12 && bytes.substr(4, 4) == "ftyp") {
        return Kind{SourceChoice::Kind::kVideo, "mp4"};
    }
    if (startsWith(bytes, "\x1A\x45\xDF\xA3")) {
        return Kind{SourceChoice::Kind::kVideo, "mkv"};
    }
    if (bytes.size() >= 12 && startsWith(bytes, "RIFF") && bytes.substr(8, 4) == "AVI ") {
        return Kind{SourceChoice::Kind::kVideo, "avi"};
    }
    *error =
        "not a picture or clip this host can show (JPEG, PNG, YUV4MPEG2, MP4, WebM, Matroska or "
        "AVI)";
    return std::nullopt;
}

std::optional<SourceChoice> UploadStore::add(size_t ix, std::string_view bytes,
                                             std::string* error) {
    const std::optional<Kind> kind = sniff(bytes, error);
    if (!kind) {
        return std::nullopt;
    }
    if (_directory.create() != 0) {
        *error = "the host has no runtime directory for uploads";
        return std::nullopt;
    }
    unsigned number = 0;
    {
        std::lock_guard<std::mutex> guard(_lock);
        number = ++_count;
    }
    SourceChoice choice;
    choice.kind = kind->kind;
    choice.path = _directory.path() + "/upload-" + std::to_string(ix) + "-" +
                  std::to_string(number) + "." + kind->extension;
    const int fd = ::open(choice.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    size_t written = 0;
    while (fd >= 0 && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<size_t>(n);
    }
    const int saved = errno;
    if (fd < 0 || ::close(fd) != 0 || written != bytes.size()) {
        *error = std::string("the upload could not be stored: ") + std::strerror(saved);
        logLine(LogLevel::kWarning, "web console: %s: %s", choice.path.c_str(), error->c_str());
        ::unlink(choice.path.c_str());
        return std::nullopt;
    }
    return choice;
}

void UploadStore::adopt(size_t ix, const SourceChoice& choice) {
    std::string earlier;
    {
        std::lock_guard<std::mutex> guard(_lock);
        earlier = std::move(_shown[ix]);
        const bool upload = choice.kind != SourceChoice::Kind::kPattern &&
                            choice.kind != SourceChoice::Kind::kPushed &&
                            choice.path.rfind(_directory.path() + "/upload-", 0) == 0;
        _shown[ix] = upload ? choice.path : std::string();
    }
    if (!earlier.empty() && earlier != choice.path) {
        ::unlink(earlier.c_str());
    }
}

void UploadStore::drop(const SourceChoice& choice) {
    ::unlink(choice.path.c_str());
}

}  // namespace host
}  // namespace vemo
