#include "Options.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iterator>

namespace vemo {
namespace tools {

namespace {

const char kModuleFile[] = "camera.vemo.so";

// One line for what CLI11 found wrong with the command line.
std::string cliError(const CLI::ParseError& e) {
    const std::string what = e.what();
    // "--NAME: 1 required TEXT missing", for a value left out or empty.
    const size_t colon = what.find(": ");
    if (colon != std::string::npos && what.find("missing", colon) != std::string::npos) {
        return what.substr(0, colon) + " needs a value";
    }
    return what;
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
    // CLI11 splits the command line: options before or after the command, "--" ending them,
    // the first word left the command and the rest its arguments. What the values mean, each
    // command checks; the --help texts are the commands' own.
    CLI::App app("vemo-camera");
    app.set_help_flag();
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("-h,--help", options->help);
    app.add_flag("-v,--verbose", options->verbose);
    app.add_option("--module", options->modulePath);
    app.add_option("--camera", options->camera);
    for (const char* const* name = kValueOptions; *name != nullptr; ++name) {
        app.add_option(std::string(*name) == "--out" ? "-o,--out" : *name, options->values[*name]);
    }
    std::vector<std::string> words;
    app.add_option("words", words);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        *error = cliError(e);
        return false;
    }
    // A value given empty ("--size ''") is no value; options not given leave no entry.
    const auto givenEmpty = [&app, error](const std::string& name, const std::string& value) {
        if (value.empty() && app.get_option(name)->count() > 0) {
            *error = name + " needs a value";
            return true;
        }
        return false;
    };
    if (givenEmpty("--module", options->modulePath) || givenEmpty("--camera", options->camera)) {
        return false;
    }
    for (auto it = options->values.begin(); it != options->values.end();) {
        if (givenEmpty(it->first, it->second)) {
            return false;
        }
        it = it->second.empty() ? options->values.erase(it) : std::next(it);
    }
    const std::vector<std::string> extras = app.remaining();
    if (!extras.empty()) {
        *error = "unknown option '" + extras.front() + "'";
        return false;
    }
    if (!words.empty()) {
        options->command = words.front();
        options->arguments.assign(words.begin() + 1, words.end());
    }
    if (options->modulePath.empty()) {
        options->modulePath = defaultModulePath();
    }
    return true;
}

}  // namespace tools
}  // namespace vemo
