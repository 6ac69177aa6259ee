// vemo-camera: a camera client of the simulated guest. It loads camera.vemo.so through its
// descriptor HMI, as the platform's camera service does, and drives it from the command line.

#include <ctype.h>
#include <stdio.h>

#include <memory>
#include <string>

#include <vemo/log_hook.h>

#include "service/CameraService.h"

#include "Commands.h"
#include "EndSignals.h"
#include "Options.h"
#include "Report.h"

namespace {

using vemo::tools::kCommands;

const int kUsageWidth = 20;

void printHelp() {
    printf(
        "Usage: vemo-camera [OPTIONS] COMMAND [ARGS]\n"
        "\n"
        "A camera client of the simulated guest: it loads the camera module through its\n"
        "descriptor HMI, as the platform's camera service does, and drives it.\n"
        "\n"
        "Commands:\n");
    for (const vemo::tools::Command* command = kCommands; command->name != nullptr; ++command) {
        const std::string usage = std::string(command->name) +
                                  (command->arguments[0] != '\0' ? " " : "") + command->arguments;
        // A long synopsis gets a line of its own, the summary the next one.
        if (usage.size() > static_cast<size_t>(kUsageWidth)) {
            printf("  %s\n  %-*s %s\n", usage.c_str(), kUsageWidth, "", command->summary);
        } else {
            printf("  %-*s %s\n", kUsageWidth, usage.c_str(), command->summary);
        }
    }
    printf(
        "\n"
        "Options:\n"
        "  --module PATH  the camera module to load (default: $VEMO_CAMERA_MODULE, else\n"
        "                 camera.vemo.so in the lib folder beside this program's folder)\n"
        "  --camera N     the camera a command opens (default 0)\n"
        "  -v, --verbose  show the module's log on stderr\n"
        "  -h, --help     show this help, or with a command that command's, and exit\n"
        "\n"
        "The module asks the host camera service at the address of the property\n"
        "\"ro.tolvd.ip\" (default 10.0.2.2), port 10072. Under the guest-driver emulation\n"
        "10.0.2.2 is this machine's loopback address and VEMO_NAT_PORT_10072 forwards the\n"
        "port; properties come from the file named by VEMO_PROPERTY_FILE. An open camera\n"
        "(every command but list) also reaches the control port 10088 (VEMO_NAT_PORT_10088\n"
        "forwards it) and the host's guest-driver endpoint, the Unix socket named by\n"
        "VEMO_HGCM_SOCKET.\n"
        "\n"
        "preview, record and snap end early, with one line of what arrived and exit status 1,\n"
        "when the camera reports an error, when no frame comes for 5 s, or on SIGINT or\n"
        "SIGTERM; they keep what did arrive in their files and remove their windows.\n"
        "\n"
        "Exit status: 0 on success, 1 on failure, 2 on wrong usage.\n");
}

void printCommandHelp(const vemo::tools::Command& command) {
    std::string summary = command.summary;
    summary[0] = static_cast<char>(toupper(static_cast<unsigned char>(summary[0])));
    printf("Usage: vemo-camera [OPTIONS] %s%s%s\n\n%s.\n", command.name,
           command.arguments[0] != '\0' ? " " : "", command.arguments, summary.c_str());
    if (command.details[0] != '\0') {
        printf("\n%s", command.details);
    }
    printf("\nThe common options (--module, --verbose) are those of vemo-camera --help.\n");
}

// Keeps the module's log off stderr, where it would bury the tool's own output.
void discardLog(int, const char*, const char*, void*) {}

}  // namespace

int main(int argc, char** argv) {
    vemo::tools::Options options;
    std::string error;
    if (!vemo::tools::parseOptions(argc, argv, &options, &error)) {
        return vemo::tools::usageError(error);
    }
    if (options.help && options.command.empty()) {
        printHelp();
        return 0;
    }
    if (options.command.empty()) {
        return vemo::tools::usageError("no command given");
    }
    const vemo::tools::Command* command = vemo::tools::findCommand(options.command);
    if (command == nullptr) {
        return vemo::tools::usageError("unknown command '" + options.command + "'");
    }
    if (options.help) {
        printCommandHelp(*command);
        return 0;
    }
    if (!options.camera.empty() && !vemo::tools::takesOption(*command, "--camera")) {
        return vemo::tools::usageError(options.command + " takes no --camera");
    }
    for (const auto& value : options.values) {
        if (!vemo::tools::takesOption(*command, value.first)) {
            return vemo::tools::usageError(options.command + " takes no " + value.first);
        }
    }
    if (!options.verbose) {
        vemo_log_set_hook(discardLog, nullptr, 1);
    }
    if (command->catchesSignals) {
        vemo::tools::catchEndSignals();
    }
    std::unique_ptr<vemo::guest::CameraService> service;
    if (command->loadsModule) {
        service = vemo::guest::CameraService::load(options.modulePath, &error);
        if (service == nullptr) {
            return vemo::tools::fail(error);
        }
    }
    return command->run(service.get(), options);
}
