#include "SourceContent.h"

#include <dirent.h>
#include <gst/gst.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "CaptureDevices.h"
#include "ClipSource.h"
#include "MediaSource.h"
#include "PictureSource.h"
#include "TestPattern.h"

namespace vemo {
namespace host {

namespace {

// The names of the files in the folder that end in .jpg, .jpeg or .png, in any case, hidden
// ones left out.
bool pictureNames(const std::string& path, std::vector<std::string>* names, std::string* error) {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.c_str()), ::closedir);
    if (folder == nullptr) {
        *error = "cannot open the folder " + path + ": " + std::strerror(errno);
        return false;
    }
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string name = entry->d_name;
        const size_t dot = name.rfind('.');
        if (name[0] == '.' || dot == std::string::npos) {
            continue;
        }
        const char* extension = name.c_str() + dot + 1;
        struct stat info {};
        if ((::strcasecmp(extension, "jpg") == 0 || ::strcasecmp(extension, "jpeg") == 0 ||
             ::strcasecmp(extension, "png") == 0) &&
            ::stat((path + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            names->push_back(name);
        }
    }
    std::sort(names->begin(), names->end());
    return true;
}

std::string sizeText(const Picture& picture) {
    return std::to_string(picture.width) + "x" + std::to_string(picture.height);
}

}  // namespace

std::shared_ptr<const SourceContent> SourceContent::load(const SourceChoice& choice,
                                                         uint32_t squareColour,
                                                         std::string* error) {
    std::shared_ptr<SourceContent> content(new SourceContent());
    content->_spec = choice;
    switch (choice.kind) {
        case SourceChoice::Kind::kPattern:
            content->_squareColour = squareColour;
            content->_description = "test pattern";
            break;
        case SourceChoice::Kind::kImage: {
            content->_pictures = std::make_shared<std::vector<Picture>>(1);
            Picture& picture = content->_pictures->front();
            if (!PictureDecoder::decodeFile(choice.path, &picture, error)) {
                return nullptr;
            }
            content->_description = "picture " + sizeText(picture);
            break;
        }
        case SourceChoice::Kind::kFolder:
            if (!content->loadFolder(choice.path, error)) {
                return nullptr;
            }
            break;
        case SourceChoice::Kind::kClip:
            content->_clip = Y4mClip::open(choice.path, error);
            if (content->_clip == nullptr) {
                return nullptr;
            }
            content->_description = "clip " + content->_clip->describe();
            break;
        case SourceChoice::Kind::kVideo:
        case SourceChoice::Kind::kUrl:
        case SourceChoice::Kind::kWebcam:
        case SourceChoice::Kind::kPipeline:
            if (!content->startPipeline(error)) {
                return nullptr;
            }
            break;
        case SourceChoice::Kind::kPushed:
            content->_pushed = std::make_shared<PushedPictures>();
            content->_description = "pushed pictures";
            break;
    }
    return content;
}

bool SourceContent::loadFolder(const std::string& path, std::string* error) {
    std::vector<std::string> names;
    if (!pictureNames(path, &names, error)) {
        return false;
    }
    if (names.empty()) {
        *error = "the folder " + path + " holds no .jpg, .jpeg or .png file";
        return false;
    }
    if (names.size() > kMaxFolderPictures) {
        *error = "the folder " + path + " holds " + std::to_string(names.size()) +
                 " pictures, more than " + std::to_string(kMaxFolderPictures);
        return false;
    }
    _pictures = std::make_shared<std::vector<Picture>>(names.size());
    size_t bytes = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        Picture& picture = (*_pictures)[i];
        if (!PictureDecoder::decodeFile(path + "/" + names[i], &picture, error)) {
            return false;
        }
        bytes += picture.argb.size();
        if (bytes > kMaxFolderBytes) {
            *error = "the pictures of the folder " + path + " take more than " +
                     std::to_string(kMaxFolderBytes >> 20) + " MiB decoded";
            return false;
        }
    }
    _description = std::to_string(names.size()) + (names.size() == 1 ? " picture" : " pictures") +
                   " at " + std::to_string(_spec.folderFps) + " fps";
    return true;
}

bool SourceContent::startPipeline(std::string* error) {
    std::string description;
    MediaPipeline::Ending ending = MediaPipeline::Ending::kRetry;
    void* device = nullptr;
    std::string kind;
    switch (_spec.kind) {
        case SourceChoice::Kind::kVideo: {
            if (!MediaPipeline::initialise(error)) {
                return false;
            }
            GError* uriError = nullptr;
            gchar* uri = gst_filename_to_uri(_spec.path.c_str(), &uriError);
            if (uri == nullptr) {
                *error = _spec.path + ": " + (uriError != nullptr ? uriError->message : "no URI");
                g_clear_error(&uriError);
                return false;
            }
            description = "uridecodebin uri=" + MediaPipeline::quoted(uri);
            g_free(uri);
            ending = MediaPipeline::Ending::kLoop;
            kind = "video";
            break;
        }
        case SourceChoice::Kind::kUrl:
            description = "uridecodebin uri=" + MediaPipeline::quoted(_spec.path);
            kind = "stream";
            break;
        case SourceChoice::Kind::kWebcam:
            device = CaptureDevices::find(_spec.path, error);
            if (device == nullptr) {
                return false;
            }
            kind = "webcam";
            break;
        default:
            description = _spec.path;
            ending = MediaPipeline::Ending::kStall;
            kind = "pipeline";
            break;
    }
    _pipeline = std::make_shared<MediaPipeline>(_spec.text(), description, ending, device);
    if (!_pipeline->start(error)) {
        *error = _spec.text() + ": " + *error;
        return false;
    }
    const std::shared_ptr<const MediaPicture> first = _pipeline->newest();
    _description = kind + " " + std::to_string(first->width) + "x" + std::to_string(first->height);
    if (const std::optional<FrameRate> rate = _pipeline->rate()) {
        _description += " at " + rate->text() + " fps";
    }
    return true;
}

bool SourceContent::push(Picture picture) const {
    if (_pushed == nullptr) {
        return false;
    }
    _pushed->push(std::move(picture));
    return true;
}

std::unique_ptr<IFrameSource> SourceContent::makeSource() const {
    switch (_spec.kind) {
        case SourceChoice::Kind::kPattern:
            break;
        case SourceChoice::Kind::kImage:
            return std::make_unique<PictureSource>(_pictures, std::nullopt);
        case SourceChoice::Kind::kFolder:
            return std::make_unique<PictureSource>(_pictures, FrameRate{_spec.folderFps, 1});
        case SourceChoice::Kind::kClip:
            return std::make_unique<ClipSource>(_clip);
        case SourceChoice::Kind::kVideo:
        case SourceChoice::Kind::kUrl:
        case SourceChoice::Kind::kWebcam:
        case SourceChoice::Kind::kPipeline:
            return std::make_unique<MediaSource>(_pipeline);
        case SourceChoice::Kind::kPushed:
            return std::make_unique<PushedSource>(_pushed);
    }
    return std::make_unique<TestPattern>(_squareColour);
}

}  // namespace host
}  // namespace vemo
