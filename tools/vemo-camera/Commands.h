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
    // The options it takes besides the common ones, separated by blanks ("--camera --size").
    const char* options;
    // What its --help adds to the synopsis and the summary: its options, one a line.
    const char* details;
    // False for a command that reaches the host without the module's descriptor; it gets no
    // service.
    bool loadsModule;
    // True for a command that holds preview windows or writes a file: SIGINT and SIGTERM ask it
    // to end, and it cleans up. The others end the default way.
    bool catchesSignals;
    int (*run)(guest::CameraService* service, const Options& options);
};

// The table of subcommands, in the order --help lists them; ends with a null name.
extern const Command kCommands[];

const Command* findCommand(const std::string& name);

// Whether command takes option (a long name such as "--size").
bool takesOption(const Command& command, const std::string& option);

int runList(guest::CameraService* service, const Options& options);
int runProbe(guest::CameraService* service, const Options& options);
int runParams(guest::CameraService* service, const Options& options);
int runSet(guest::CameraService* service, const Options& options);
int runPreview(guest::CameraService* service, const Options& options);
int runRecord(guest::CameraService* service, const Options& options);
int runSnap(guest::CameraService* service, const Options& options);

}  // namespace tools
}  // namespace vemo
