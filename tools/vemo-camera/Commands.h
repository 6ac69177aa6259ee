#pragma once

// The subcommands of vemo-camera. Each one is a function that gets the loaded module (when it
// asks for one) and the parsed command line, checks its own arguments and returns the exit
// status.

#include "service/CameraService.h"

#include "Options.h"

namespace vemo {
namespace tools {

struct Command {
    const char* name;
    const char* arguments;  // synopsis of its arguments, "" for none
    const char* summary;
    // False for a command that reaches the host without the module's descriptor; it gets no
    // service.
    bool loadsModule;
    int (*run)(guest::CameraService* service, const Options& options);
};

// The table of subcommands, in the order --help lists them; ends with a null name.
extern const Command kCommands[];

const Command* findCommand(const std::string& name);

int runList(guest::CameraService* service, const Options& options);
int runProbe(guest::CameraService* service, const Options& options);

}  // namespace tools
}  // namespace vemo
