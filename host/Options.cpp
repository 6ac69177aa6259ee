#include "Options.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>
#include <utility>
#include <vector>

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

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

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
            *error = prefix + "expected key=value, got " + quoted(pair);
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
            *error = prefix + "unknown key " + quoted(name) + " (keys: " + cameraKeyList() + ")";
            return false;
        }
        if (!key->apply(value, &camera)) {
            *error = prefix + std::string(name) + ": expected " + key->expected + ", got " +
                     quoted(value);
            return false;
        }
    }
    host->cameras[ix] = std::move(camera);
    return true;
}

// What the options have said so far.
struct ParseState {
    Options* options;
    uint32_t cameraCount;
    std::vector<std::string> cameraSettings;
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
         uint32_t port = 0;
         if (!parseNumber(v, 65535, &port)) {
             *error = "expected a number from 0 to 65535";
             return false;
         }
         s->options->cameraPort = static_cast<uint16_t>(port);
         return true;
     }},
};

}  // namespace

bool parseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
    ParseState state{options, static_cast<uint32_t>(options->host.cameras.size()), {}};

    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "-h") {
            arg = "--help";
        }
        if (arg.substr(0, 2) != "--") {
            *error = "unexpected argument " + quoted(arg);
            return false;
        }
        std::string_view name = arg;
        std::string_view value;
        bool hasValue = false;
        const size_t equals = arg.find('=');
        if (equals != std::string_view::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        const OptionDef* option = nullptr;
        for (const OptionDef& candidate : kOptions) {
            if (candidate.name == name) {
                option = &candidate;
            }
        }
        if (option == nullptr) {
            *error = "unknown option " + std::string(name);
            return false;
        }
        if (!option->takesValue && hasValue) {
            *error = "option " + std::string(name) + " takes no value";
            return false;
        }
        if (option->takesValue && !hasValue) {
            if (i + 1 >= argc) {
                *error = "option " + std::string(name) + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        std::string problem;
        if (!option->apply(value, &state, &problem)) {
            *error = std::string(name) + ": " + problem + ", got " + quoted(value);
            return false;
        }
    }

    // Camera settings apply once the count is known, whatever the order on the command line.
    const uint32_t orientation = options->host.orientation;
    options->host = HostConfig::withCameras(state.cameraCount);
    options->host.orientation = orientation;
    for (const std::string& settings : state.cameraSettings) {
        if (!applyCameraSettings(settings, &options->host, error)) {
            return false;
        }
    }
    return true;
}

std::string usageText() {
    return "Usage: vemo-hostd [options]\n"
           "Host camera service for Vemo Android guests: answers the guest's camera module\n"
           "with a generated test pattern. Prints 'vemo-hostd ready camera-port=<port>' on\n"
           "stdout once it listens; logs go to stderr. SIGTERM or SIGINT stops it.\n"
           "\n"
           "Options:\n"
           "  --cameras N            number of cameras, 0 to 16 (default 2)\n"
           "  --camera IX:KEY=VALUE[,KEY=VALUE...]\n"
           "                         settings of camera IX; keys:\n"
           "                           facing=N        0 faces the user (front), other the back\n"
           "                           orientation=D   mounting orientation: 0, 90, 180 or 270\n"
           "                           name=TEXT       name reported to the guest (no commas)\n"
           "                         defaults: camera 0 facing=1 orientation=0\n"
           "                         name=\"Vemo Test Pattern (back)\"; camera 1 facing=0\n"
           "                         orientation=0 name=\"Vemo Test Pattern (front)\"\n"
           "  --orientation D        current device orientation: 0, 90, 180 or 270 (default 0)\n"
           "  --listen ADDR          IPv4 address to listen on (default 127.0.0.1). Any other\n"
           "                         address is your explicit choice to expose the service\n"
           "                         beyond this machine (a VM's host-only network, say).\n"
           "  --camera-port P        TCP port of the camera service (default 10072; 0 picks\n"
           "                         a free port, reported in the ready line)\n"
           "  --quiet                log errors only\n"
           "  --verbose              log every connection and call\n"
           "  -h, --help             show this text and exit\n"
           "\n"
           "Exit status: 0 after a clean stop, 1 when a service cannot start, 2 on a bad\n"
           "option.\n";
}

}  // namespace host
}  // namespace vemo
