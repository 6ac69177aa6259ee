#pragma once

// The command line shared by every subcommand: vemo-camera [OPTIONS] COMMAND [ARGS]. Options
// may stand before or after the command; "--" ends them.

#include <map>
#include <string>
#include <vector>

namespace vemo {
namespace tools {

struct Options {
    std::string command;
    std::vector<std::string> arguments;  // what follows the command, options removed
    std::string modulePath;
    std::string camera;  // --camera as given; empty when absent
    // The other options that take a value, by their long name ("--frames", "--size", ...; -o is
    // "--out"), as given. Which of them a command takes, the command table says.
    std::map<std::string, std::string> values;
    bool verbose = false;
    bool help = false;
};

// Parses argv into *options. Returns false and sets *error to one line on a wrong usage.
// modulePath, when not given, is the default of defaultModulePath().
bool parseOptions(int argc, char** argv, Options* options, std::string* error);

// The options of kValueOptions that take a value besides --module and --camera.
extern const char* const kValueOptions[];

// $VEMO_CAMERA_MODULE when set, else camera.vemo.so in the lib folder beside the folder of
// this program (<build>/bin/vemo-camera loads <build>/lib/camera.vemo.so).
std::string defaultModulePath();

}  // namespace tools
}  // namespace vemo
