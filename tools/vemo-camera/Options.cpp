#include "Options.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace vemo {
namespace tools {

namespace {

const char kModuleFile[] = "camera.vemo.so";

// Takes the value of an option that needs one, as "--name=value" or "--name value".
bool takeValue(const std::string& name, const std::string& arg, int argc, char** argv, int* i,
               std::string* value, std::string* error) {
    if (arg.size() > name.size() && arg[name.size()] == '=') {
        *value = arg.substr(name.size() + 1);
    } else if (*i + 1 < argc) {
        *value = argv[++*i];
    } else {
        *error = name + " needs a value";
        return false;
    }
    if (value->empty()) {
        *error = name + " needs a value";
        return false;
    }
    return true;
}

bool isOption(const std::string& arg, const std::string& name) {
    return arg == name || arg.compare(0, name.size() + 1, name + "=") == 0;
}

// One of kValueOptions (or -o for --out) with its value into options->values.
bool takeValueOption(const std::string& arg, int argc, char** argv, int* i, Options* options,
                     std::string* error) {
    if (arg == "-o") {
        return takeValue("-o", arg, argc, argv, i, &options->values["--out"], error);
    }
    for (const char* const* name = kValueOptions; *name != nullptr; ++name) {
        if (isOption(arg, *name)) {
            return takeValue(*name, arg, argc, argv, i, &options->values[*name], error);
        }
    }
    *error = "unknown option '" + arg + "'";
    return false;
}

}  // namespace

const char* const kValueOptions[] = {
    "--frames", "--size",     "--format", "--save",      "--seconds", "--mode",
    "--out",    "--rotation", "--gps",    "--thumbnail", "--hostd",   nullptr,
};

std::string defaultModulePath() {
    const char* fromEnvironment = getenv("VEMO_CAMERA_MODULE");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0) {
        return kModuleFile;
    }
    std::string path(self, static_cast<size_t>(n));
    const size_t binFolder = path.rfind('/');
    const size_t buildFolder = binFolder == std::string::npos || binFolder == 0
                                   ? std::string::npos
                                   : path.rfind('/', binFolder - 1);
    if (buildFolder == std::string::npos) {
        return kModuleFile;
    }
    return path.substr(0, buildFolder) + "/lib/" + kModuleFile;
}

bool parseOptions(int argc, char** argv, Options* options, std::string* error) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (options->command.empty()) {
                options->command = arg;
            } else {
                options->arguments.push_back(arg);
            }
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            options->help = true;
        } else if (arg == "-v" || arg == "--verbose") {
            options->verbose = true;
        } else if (isOption(arg, "--module")) {
            if (!takeValue("--module", arg, argc, argv, &i, &options->modulePath, error)) {
                return false;
            }
        } else if (isOption(arg, "--camera")) {
            if (!takeValue("--camera", arg, argc, argv, &i, &options->camera, error)) {
                return false;
            }
        } else if (!takeValueOption(arg, argc, argv, &i, options, error)) {
            return false;
        }
    }
    if (options->modulePath.empty()) {
        options->modulePath = defaultModulePath();
    }
    return true;
}

}  // namespace tools
}  // namespace vemo
