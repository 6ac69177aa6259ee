#pragma once

#include <cstdint>
#include <string>

#include "HostConfig.h"
#include "Log.h"
#include "WebConsole.h"

namespace vemo {
namespace host {

// What vemo-hostd's command line asks for.
struct Options {
    HostConfig host = HostConfig::withCameras(2);
    std::string listenAddress = "127.0.0.1";
    uint16_t cameraPort = 10072;
    uint16_t controlPort = 10088;
    std::string hgcmSocket;  // empty: a socket in a new private temporary directory
    std::string ctlSocket;   // empty: the same
    std::string recordPath;  // empty: no record
    WebConfig web;
    LogLevel logLevel = LogLevel::kInfo;
    bool help = false;
    bool listDevices = false;
};

// Reads the command line; argv[0] is the program. Returns false with a one-sentence *error on
// the first bad option. Options may come in any order; the last of a repeated one wins, but
// every --fault counts.
bool parseOptions(int argc, const char* const* argv, Options* options, std::string* error);

// The --help text.
std::string usageText();

}  // namespace host
}  // namespace vemo
