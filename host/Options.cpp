#include "Options.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "ClientTable.h"
#include "FrameRate.h"
#include "SourceChoice.h"

namespace vemo {
namespace host {

namespace {

bool parseNumber(std::string_view text, uint32_t max, uint32_t* out) {
    uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value > max) {
        return false;
    }
    *out = value;
    return true;
}

bool parseDegrees(std::string_view text, uint32_t* out) {
    uint32_t degrees = 0;
    if (!parseNumber(text, 270, &degrees) || degrees % 90 != 0) {
        return false;
    }
    *out = degrees;
    return true;
}

std::string inQuotes(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

bool parseSize(std::string_view text, FrameSize* out,
               FrameSize::Sides sides = FrameSize::Sides::kEven) {
    const std::optional<FrameSize> size = FrameSize::parse(text, sides);
    if (size) {
        *out = *size;
    }
    return size.has_value();
}

bool parseSizes(std::string_view text, std::vector<FrameSize>* out) {
    std::optional<std::vector<FrameSize>> sizes = FrameSize::parseList(text);
    if (sizes) {
        *out = std::move(*sizes);
    }
    return sizes.has_value();
}

bool parseSwitch(std::string_view text, bool* out) {
    if (text != "0" && text != "1") {
        return false;
    }
    *out = text == "1";
    return true;
}

constexpr const char* kSizeExpected = "WIDTHxHEIGHT, even sides from 16 to 4096";
constexpr const char* kThumbnailSizeExpected = "WIDTHxHEIGHT, sides from 16 to 4096";
constexpr const char* kSizesExpected =
    "sizes WIDTHxHEIGHT joined with '/', even sides from 16 to 4096";
// Past 2^40 microseconds (12 days) the nanoseconds the guest makes of a timestamp would come
// close to overflowing.
constexpr uint64_t kMaxTimestampOffsetUs = uint64_t{1} << 40;
constexpr uint32_t kMaxFreezeMs = 3600000;
constexpr uint32_t kMaxIdleLimitS = 3600;
constexpr uint32_t kMaxSampleMemoryMb = 1u << 20;
// Uploads are held in memory whole while they are checked.
constexpr uint32_t kMaxUploadMiB = 4096;
constexpr const char* kFpsExpected = "a number of pictures a second from 1 to 120";

// Keys of --camera. A new camera setting is one row here and one field in CameraConfig.
struct CameraKey {
    std::string_view name;
    bool (*apply)(std::string_view value, CameraConfig* camera);
    const char* expected;  // completes "expected ..." when apply fails
};

const CameraKey kCameraKeys[] = {
    {"facing",
     [](std::string_view v, CameraConfig* c) { return parseNumber(v, UINT32_MAX, &c->facing); },
     "a number (0 front, other back)"},
    {"orientation",
     [](std::string_view v, CameraConfig* c) { return parseDegrees(v, &c->orientation); },
     "0, 90, 180 or 270"},
    {"name",
     [](std::string_view v, CameraConfig* c) {
         c->name = std::string(v);
         return true;
     },
     "a name"},
    {"preview-sizes",
     [](std::string_view v, CameraConfig* c) { return parseSizes(v, &c->previewSizes); },
     kSizesExpected},
    {"preferred",
     [](std::string_view v, CameraConfig* c) { return parseSize(v, &c->preferredPreviewSize); },
     kSizeExpected},
    {"picture-sizes",
     [](std::string_view v, CameraConfig* c) { return parseSizes(v, &c->pictureSizes); },
     kSizesExpected},
    {"video-sizes",
     [](std::string_view v, CameraConfig* c) { return parseSizes(v, &c->videoSizes); },
     kSizesExpected},
    {"thumbnail",
     [](std::string_view v, CameraConfig* c) {
         return parseSize(v, &c->thumbnailSize, FrameSize::Sides::kAny);
     },
     kThumbnailSizeExpected},
    {"white-balance",
     [](std::string_view v, CameraConfig* c) { return parseSwitch(v, &c->whiteBalance); },
     "0 or 1"},
    {"auto-focus",
     [](std::string_view v, CameraConfig* c) { return parseSwitch(v, &c->autoFocus); }, "0 or 1"},
    {"exposure", [](std::string_view v, CameraConfig* c) { return parseSwitch(v, &c->exposure); },
     "0 or 1"},
    {"fps",
     [](std::string_view v, CameraConfig* c) {
         return parseNumber(v, FrameRate::kMaxFps, &c->fps) && c->fps >= FrameRate::kMinFps;
     },
     kFpsExpected},
    {"source",
     [](std::string_view v, CameraConfig* c) {
         std::string ignored;
         const std::optional<SourceChoice> choice = SourceChoice::parse(v, &ignored);
         char directory[PATH_MAX];
         if (choice) {
             // Absolute, so that the host's status names the file whatever its directory.
             c->source = ::getcwd(directory, sizeof(directory)) != nullptr
                             ? choice->resolvedAgainst(directory)
                             : *choice;
         }
         return choice.has_value();
     },
     "pattern, image:PATH, folder:PATH, folder@N:PATH (N pictures a second, 1 to 120), "
     "y4m:PATH, video:PATH, url:URI, webcam, webcam:DEVICE or gst:PIPELINE"},
};

std::string cameraKeyList() {
    std::string list;
    for (const CameraKey& key : kCameraKeys) {
        list += (list.empty() ? "" : ", ") + std::string(key.name);
    }
    return list;
}

// Applies one "IX:key=value[,key=value...]" to the configured cameras.
bool applyCameraSettings(std::string_view settings, HostConfig* host, std::string* error) {
    const std::string prefix = "--camera " + std::string(settings) + ": ";
    const size_t colon = settings.find(':');
    uint32_t ix = 0;
    if (colon == std::string_view::npos ||
        !parseNumber(settings.substr(0, colon), UINT32_MAX, &ix)) {
        *error = prefix + "expected IX:key=value[,key=value...]";
        return false;
    }
    if (ix >= host->cameras.size()) {
        *error = prefix + "no camera " + std::to_string(ix) + " (there are " +
                 std::to_string(host->cameras.size()) + ", see --cameras)";
        return false;
    }
    CameraConfig camera = host->cameras[ix];
    std::string_view rest = settings.substr(colon + 1);
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        const std::string_view pair = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const size_t equals = pair.find('=');
        if (equals == std::string_view::npos) {
            *error = prefix + "expected key=value, got " + inQuotes(pair);
            return false;
        }
        const std::string_view name = pair.substr(0, equals);
        const std::string_view value = pair.substr(equals + 1);
        const CameraKey* key = nullptr;
        for (const CameraKey& candidate : kCameraKeys) {
            if (candidate.name == name) {
                key = &candidate;
            }
        }
        if (key == nullptr) {
            *error = prefix + "unknown key " + inQuotes(name) + " (keys: " + cameraKeyList() + ")";
            return false;
        }
        if (!key->apply(value, &camera)) {
            *error = prefix + std::string(name) + ": expected " + key->expected + ", got " +
                     inQuotes(value);
            return false;
        }
    }
    host->cameras[ix] = std::move(camera);
    return true;
}

// What the keys of one camera must agree on, once all of them are set.
bool checkCamera(size_t ix, const CameraConfig& camera, std::string* error) {
    const std::vector<FrameSize>& sizes = camera.previewSizes;
    if (std::find(sizes.begin(), sizes.end(), camera.preferredPreviewSize) == sizes.end()) {
        *error = "--camera " + std::to_string(ix) + ": preferred size " +
                 camera.preferredPreviewSize.text() + " is not one of the preview sizes";
        return false;
    }
    return true;
}

bool parsePort(std::string_view text, uint16_t* out, std::string* error) {
    uint32_t port = 0;
    if (!parseNumber(text, 65535, &port)) {
        *error = "expected a number from 0 to 65535";
        return false;
    }
    *out = static_cast<uint16_t>(port);
    return true;
}

bool parsePath(std::string_view text, std::string* out, std::string* error) {
    if (text.empty()) {
        *error = "expected a path";
        return false;
    }
    *out = std::string(text);
    return true;
}

// Switches on one fault mode.
bool applyFault(std::string_view mode, HostFaults* faults, std::string* error) {
    constexpr std::string_view kCloseAfter = "close-after=";
    constexpr std::string_view kExitAfter = "exit-after=";
    constexpr std::string_view kFreezeAfter = "freeze-after=";
    if (mode == "refuse") {
        faults->refuse = true;
    } else if (mode == "byte-per-transfer") {
        faults->bytePerTransfer = true;
    } else if (mode == "stall") {
        faults->stall = true;
    } else if (mode == "malformed") {
        faults->malformed = true;
    } else if (mode == "busy") {
        faults->busy = true;
    } else if (mode.substr(0, kExitAfter.size()) == kExitAfter) {
        if (!parseNumber(mode.substr(kExitAfter.size()), UINT32_MAX, &faults->exitAfter) ||
            faults->exitAfter == 0) {
            *error = "expected exit-after=N with N a number of requests from 1";
            return false;
        }
    } else if (mode.substr(0, kFreezeAfter.size()) == kFreezeAfter) {
        const std::string_view rest = mode.substr(kFreezeAfter.size());
        const size_t colon = rest.find(':');
        if (colon == std::string_view::npos ||
            !parseNumber(rest.substr(0, colon), UINT32_MAX, &faults->freezeAfter) ||
            faults->freezeAfter == 0 ||
            !parseNumber(rest.substr(colon + 1), kMaxFreezeMs, &faults->freezeMs)) {
            *error =
                "expected freeze-after=N:MS with N a number of requests from 1 and MS "
                "milliseconds up to " +
                std::to_string(kMaxFreezeMs);
            return false;
        }
    } else if (mode.substr(0, kCloseAfter.size()) == kCloseAfter) {
        uint32_t count = 0;
        if (!parseNumber(mode.substr(kCloseAfter.size()), UINT32_MAX, &count) || count == 0) {
            *error = "expected close-after=N with N a number of requests from 1";
            return false;
        }
        faults->closeAfter = count;
    } else {
        *error =
            "expected refuse, close-after=N, byte-per-transfer, stall, malformed, busy, "
            "exit-after=N or freeze-after=N:MS";
        return false;
    }
    return true;
}

// What the options have said so far.
struct ParseState {
    Options* options;
    uint32_t cameraCount;
    std::vector<std::string> cameraSettings;
    bool paced = true;
};

// Options of the command line. A new option is one row; usageText documents it.
struct OptionDef {
    std::string_view name;
    bool takesValue;
    // Sets *error to what completes "<name>: " when the value is not acceptable.
    bool (*apply)(std::string_view value, ParseState* state, std::string* error);
};

const OptionDef kOptions[] = {
    {"--help", false,
     [](std::string_view, ParseState* s, std::string*) {
         s->options->help = true;
         return true;
     }},
    {"--list-devices", false,
     [](std::string_view, ParseState* s, std::string*) {
         s->options->listDevices = true;
         return true;
     }},
    {"--quiet", false,
     [](std::string_view, ParseState* s, std::string*) {
         s->options->logLevel = LogLevel::kError;
         return true;
     }},
    {"--verbose", false,
     [](std::string_view, ParseState* s, std::string*) {
         s->options->logLevel = LogLevel::kDebug;
         return true;
     }},
    {"--unpaced", false,
     [](std::string_view, ParseState* s, std::string*) {
         s->paced = false;
         return true;
     }},
    {"--cameras", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         if (parseNumber(v, HostConfig::kMaxCameras, &s->cameraCount)) {
             return true;
         }
         *error = "expected a number from 0 to " + std::to_string(HostConfig::kMaxCameras);
         return false;
     }},
    {"--camera", true,
     [](std::string_view v, ParseState* s, std::string*) {
         s->cameraSettings.emplace_back(v);
         return true;
     }},
    {"--orientation", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         if (parseDegrees(v, &s->options->host.orientation)) {
             return true;
         }
         *error = "expected 0, 90, 180 or 270";
         return false;
     }},
    {"--timestamp-offset", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         uint64_t value = 0;
         const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
         if (v.empty() || ec != std::errc() || end != v.data() + v.size() ||
             value > kMaxTimestampOffsetUs) {
             *error = "expected microseconds from 0 to " + std::to_string(kMaxTimestampOffsetUs);
             return false;
         }
         s->options->host.timestampOffsetUs = value;
         return true;
     }},
    {"--listen", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         in_addr address{};
         if (inet_pton(AF_INET, std::string(v).c_str(), &address) != 1) {
             *error = "expected a dotted IPv4 address";
             return false;
         }
         s->options->listenAddress = std::string(v);
         return true;
     }},
    {"--camera-port", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         return parsePort(v, &s->options->cameraPort, error);
     }},
    {"--control-port", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         return parsePort(v, &s->options->controlPort, error);
     }},
    {"--hgcm-socket", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         return parsePath(v, &s->options->hgcmSocket, error);
     }},
    {"--ctl-socket", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         return parsePath(v, &s->options->ctlSocket, error);
     }},
    {"--record", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         return parsePath(v, &s->options->recordPath, error);
     }},
    {"--idle-limit", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         uint32_t seconds = 0;
         if (!parseNumber(v, kMaxIdleLimitS, &seconds) || seconds == 0) {
             *error = "expected seconds from 1 to " + std::to_string(kMaxIdleLimitS);
             return false;
         }
         s->options->host.limits.idleLimitMs = seconds * 1000;
         return true;
     }},
    {"--max-driver-clients", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         uint32_t& max = s->options->host.limits.maxDriverClients;
         if (!parseNumber(v, static_cast<uint32_t>(ClientTable::kMaxClients), &max) || max == 0) {
             *error = "expected a number from 1 to " + std::to_string(ClientTable::kMaxClients);
             return false;
         }
         return true;
     }},
    {"--sample-memory", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         uint32_t megabytes = 0;
         if (!parseNumber(v, kMaxSampleMemoryMb, &megabytes) || megabytes == 0) {
             *error = "expected megabytes from 1 to " + std::to_string(kMaxSampleMemoryMb);
             return false;
         }
         s->options->host.limits.sampleMemoryBytes = size_t{megabytes} << 20;
         return true;
     }},
    {"--web-port", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         WebConfig& web = s->options->web;
         web.enabled = v != "off";
         web.portGiven = true;
         if (v != "off" && !parsePort(v, &web.port, error)) {
             *error = "expected a number from 0 to 65535 or off";
             return false;
         }
         return true;
     }},
    {"--web-listen", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         in_addr address{};
         if (inet_pton(AF_INET, std::string(v).c_str(), &address) != 1) {
             *error = "expected a dotted IPv4 address";
             return false;
         }
         s->options->web.listenAddress = std::string(v);
         return true;
     }},
    {"--web-upload-max", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         uint32_t mebibytes = 0;
         if (!parseNumber(v, kMaxUploadMiB, &mebibytes) || mebibytes == 0) {
             *error = "expected MiB from 1 to " + std::to_string(kMaxUploadMiB);
             return false;
         }
         s->options->web.uploadMax = size_t{mebibytes} << 20;
         return true;
     }},
    {"--fault", true,
     [](std::string_view v, ParseState* s, std::string* error) {
         return applyFault(v, &s->options->host.faults, error);
     }},
};

// One sentence for what CLI11 itself found wrong; our own checks' sentences pass through.
std::string cliError(const CLI::ParseError& e) {
    const std::string what = e.what();
    // "NAME was given a disallowed flag override", NAME without its dashes.
    const size_t override = what.find(" was given a disallowed flag override");
    if (override != std::string::npos) {
        return "option --" + what.substr(0, override) + " takes no value";
    }
    // "--NAME: 1 required TEXT missing", for a value left out or empty.
    const size_t colon = what.find(": ");
    if (colon != std::string::npos && what.find("missing", colon) != std::string::npos) {
        return "option " + what.substr(0, colon) + " needs a value";
    }
    return what;
}

}  // namespace

bool parseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
    ParseState state{options, static_cast<uint32_t>(options->host.cameras.size()), {}};

    // CLI11 splits the command line and finds each option's value; every value is checked by
    // the option's own row, at once and in the order given, so the first bad option is the one
    // named. Our own --help text replaces CLI11's.
    CLI::App app("vemo-hostd");
    app.set_help_flag();
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    for (const OptionDef& option : kOptions) {
        const std::string name(option.name);
        const std::string names = name == "--help" ? "-h,--help" : name;
        auto apply = [&state, &option, name](const std::string& value) {
            std::string problem;
            if (!option.apply(value, &state, &problem)) {
                throw CLI::ValidationError(name, problem + ", got " + inQuotes(value));
            }
        };
        CLI::Option* added =
            option.takesValue
                ? app.add_option_function<std::string>(names, apply)
                : app.add_flag_callback(names, [apply] { apply(""); })->disable_flag_override();
        added->trigger_on_parse();
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        *error = cliError(e);
        return false;
    }
    const std::vector<std::string> extras = app.remaining();
    if (!extras.empty()) {
        const std::string& first = extras.front();
        *error = first.rfind("-", 0) == 0 ? "unknown option " + first.substr(0, first.find('='))
                                          : "unexpected argument " + inQuotes(first);
        return false;
    }

    // Camera settings apply once the count is known, whatever the order on the command line.
    const uint32_t orientation = options->host.orientation;
    const HostFaults faults = options->host.faults;
    const HostLimits limits = options->host.limits;
    const uint64_t timestampOffset = options->host.timestampOffsetUs;
    options->host = HostConfig::withCameras(state.cameraCount);
    options->host.timestampOffsetUs = timestampOffset;
    options->host.orientation = orientation;
    options->host.faults = faults;
    options->host.limits = limits;
    options->host.paced = state.paced;
    for (const std::string& settings : state.cameraSettings) {
        if (!applyCameraSettings(settings, &options->host, error)) {
            return false;
        }
    }
    for (size_t ix = 0; ix < options->host.cameras.size(); ++ix) {
        if (!checkCamera(ix, options->host.cameras[ix], error)) {
            return false;
        }
    }
    return true;
}

std::string usageText() {
    return "Usage: vemo-hostd [options]\n"
           "       vemo-hostd ctl [--socket PATH] COMMAND [ARGUMENT...]  (see ctl --help)\n"
           "Host camera service for Vemo Android guests: answers the guest's camera module\n"
           "with a test pattern, pictures or clips. Prints one line on stdout once it listens,\n"
           "'vemo-hostd ready camera-port=<port> control-port=<port> hgcm-socket=<path>\n"
           "ctl-socket=<path> [web=<url>]'; logs go to stderr. SIGTERM or SIGINT stops it.\n"
           "\n"
           "Options:\n"
           "  --cameras N            number of cameras, 0 to 16 (default 2)\n"
           "  --camera IX:KEY=VALUE[,KEY=VALUE...]\n"
           "                         settings of camera IX; keys:\n"
           "                           facing=N        0 faces the user (front), other the back\n"
           "                           orientation=D   mounting orientation: 0, 90, 180 or 270\n"
           "                           name=TEXT       name reported to the guest (no commas)\n"
           "                           preview-sizes=SIZES\n"
           "                                           preview sizes offered, in order; SIZES\n"
           "                                           are WIDTHxHEIGHT joined with '/', even\n"
           "                                           sides from 16 to 4096 (default\n"
           "                                           1920x1080/1280x720/640x480)\n"
           "                           preferred=SIZE  preferred preview size, one of the\n"
           "                                           preview sizes (default 1280x720)\n"
           "                           picture-sizes=SIZES\n"
           "                                           picture sizes (default: the preview sizes)\n"
           "                           video-sizes=SIZES\n"
           "                                           video sizes (default 1280x720/640x480)\n"
           "                           thumbnail=SIZE  size of the thumbnails of pictures, odd\n"
           "                                           sides allowed (default 75x75, the size\n"
           "                                           the camera module offers)\n"
           "                           white-balance=B, auto-focus=B, exposure=B\n"
           "                                           1 when the guest may set white balance,\n"
           "                                           focus, exposure compensation, else 0\n"
           "                                           (defaults 1, 0, 1)\n"
           "                           fps=N           pictures a second of the pattern and of\n"
           "                                           still pictures, 1 to 120 (default 30);\n"
           "                                           the guest may ask for fewer\n"
           "                           source=SOURCE     what the camera shows (default pattern;\n"
           "                                           PATH without commas):\n"
           "                             pattern         the moving test pattern\n"
           "                             image:PATH      a JPEG or PNG picture\n"
           "                             folder:PATH     the folder's JPEG and PNG pictures in\n"
           "                                             turn, by name, one a second\n"
           "                             folder@N:PATH   the same at N pictures a second (1-120)\n"
           "                             y4m:PATH        a YUV4MPEG2 clip in a loop, at its rate\n"
           "                             video:PATH      any clip GStreamer decodes (MP4, WebM,\n"
           "                                             Matroska, AVI...), in a loop, at its "
           "rate\n"
           "                             url:URI         a network stream or remote file\n"
           "                                             (rtsp://, http://, https://, file://)\n"
           "                             webcam          the first video capture device\n"
           "                             webcam:DEVICE   a device by its path or name as\n"
           "                                             --list-devices shows it\n"
           "                             gst:PIPELINE    a GStreamer pipeline ending in raw\n"
           "                                             video (no commas on the command line)\n"
           "                                           Pictures of another shape than a frame are\n"
           "                                           letterboxed: scaled whole, black bars\n"
           "                                           around. 'vemo-hostd ctl source' changes it\n"
           "                                           while the host runs.\n"
           "                         defaults: camera 0 facing=1 orientation=0\n"
           "                         name=\"Vemo Test Pattern (back)\"; camera 1 facing=0\n"
           "                         orientation=0 name=\"Vemo Test Pattern (front)\"\n"
           "  --orientation D        current device orientation: 0, 90, 180 or 270 (default 0)\n"
           "  --timestamp-offset US  add US microseconds to every frame timestamp, for tests\n"
           "                         of timestamps past 32 bits (default 0)\n"
           "  --unpaced              hand out pictures as fast as they are asked for; by\n"
           "                         default a capture waits until the camera's next picture\n"
           "                         is due, at its rate\n"
           "  --listen ADDR          IPv4 address to listen on (default 127.0.0.1). Any other\n"
           "                         address is your explicit choice to expose the service\n"
           "                         beyond this machine (a VM's host-only network, say).\n"
           "  --camera-port P        TCP port of the camera service (default 10072; 0 picks\n"
           "                         a free port, reported in the ready line)\n"
           "  --control-port P       TCP port of the control port (default 10088; 0 picks a\n"
           "                         free port, reported in the ready line)\n"
           "  --hgcm-socket PATH     Unix socket of the guest-driver endpoint (default:\n"
           "                         hgcm.sock in a new private directory under $TMPDIR or\n"
           "                         /tmp); removed on exit\n"
           "  --ctl-socket PATH      Unix socket for 'vemo-hostd ctl' (default: ctl.sock\n"
           "                         next to the default guest-driver socket); removed on exit\n"
           "  --idle-limit S         close a connection that has not created a camera instance\n"
           "                         (camera port), paired (control port) or connected a\n"
           "                         client (guest-driver socket) within S seconds, 1 to 3600\n"
           "                         (default 10)\n"
           "  --max-driver-clients N HGCM clients one guest-driver handle may hold, 1 to 4096\n"
           "                         (default 16)\n"
           "  --sample-memory MB     memory all recording guests' samples together may take;\n"
           "                         a save beyond it fails (default 512)\n"
           "  --web-port P|off       TCP port of the web console (default 10080; 0 picks a\n"
           "                         free port; off: no console). The ready line names its\n"
           "                         address as web=URL. When the default port is taken the\n"
           "                         host runs without the console; a port given that is\n"
           "                         taken is an error.\n"
           "  --web-listen ADDR      IPv4 address of the web console (default 127.0.0.1).\n"
           "                         Any other is your explicit choice to serve it beyond\n"
           "                         this machine; every request then needs the token the\n"
           "                         URL in the ready line carries.\n"
           "  --web-upload-max MIB   largest picture or clip the console takes, in MiB\n"
           "                         (default 256)\n"
           "  --record PATH          append a line to PATH for every connect, call, control\n"
           "                         record and request the host sees, for tests\n"
           "  --fault MODE           misbehave, for fault tests; repeat for several. MODE:\n"
           "                           refuse             close connections at once, fail\n"
           "                                              HGCM connects\n"
           "                           close-after=N      end a connection or an open camera\n"
           "                                              after N requests\n"
           "                           byte-per-transfer  send replies one byte per transfer\n"
           "                           stall              take requests, never answer them\n"
           "                           malformed          answer with ill-formed replies\n"
           "                           busy               answer captureFrame with HOST_BUSY\n"
           "                           exit-after=N       exit at once (status 3) on taking the\n"
           "                                              Nth request, counted over the whole\n"
           "                                              host, leaving it unanswered\n"
           "                           freeze-after=N:MS  on taking the Nth request of the\n"
           "                                              host, answer nothing for MS\n"
           "                                              milliseconds, then go on\n"
           "  --list-devices         list the video capture devices with their sizes and\n"
           "                         rates, and exit\n"
           "  --quiet                log errors only\n"
           "  --verbose              log every connection and call\n"
           "  -h, --help             show this text and exit\n"
           "\n"
           "Exit status: 0 after a clean stop, 1 when a service cannot start, 2 on a bad\n"
           "option or a source that cannot be read, 3 when the exit-after fault ends it.\n";
}

}  // namespace host
}  // namespace vemo
