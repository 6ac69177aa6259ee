#include "Commands.h"

namespace vemo {
namespace tools {

const Command kCommands[] = {
    {"list", "", "print the cameras, their facing and mounting, and the current orientation",
     runList},
    {nullptr, nullptr, nullptr, nullptr},
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
