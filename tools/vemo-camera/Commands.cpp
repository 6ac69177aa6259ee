#include "Commands.h"

namespace vemo {
namespace tools {

const Command kCommands[] = {
    {"list", "", "print the cameras, their facing and mounting, and the current orientation", true,
     runList},
    {"probe", "[--camera N]",
     "bind camera N (default 0) through the guest driver; print its offer and frames", false,
     runProbe},
    {nullptr, nullptr, nullptr, false, nullptr},
};

const Command* findCommand(const std::string& name) {
    for (const Command* command = kCommands; command->name != nullptr; ++command) {
        if (name == command->name) {
            return command;
        }
    }
    return nullptr;
}

}  // namespace tools
}  // namespace vemo
