// vemo-hostd: the host camera service that Vemo Android guests talk to; `vemo-hostd ctl` is the
// client of its control socket.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CameraService.h"
#include "CaptureDevices.h"
#include "ClientTable.h"
#include "ControlPort.h"
#include "CtlClient.h"
#include "CtlCommands.h"
#include "CtlProtocol.h"
#include "CtlServer.h"
#include "HgcmEndpoint.h"
#include "HgcmService.h"
#include "HostState.h"
#include "Log.h"
#include "Options.h"
#include "RuntimeDirectory.h"
#include "TcpServer.h"
#include "WebConsole.h"

using vemo::host::CameraService;
using vemo::host::CaptureDevices;
using vemo::host::ClientTable;
using vemo::host::ControlPort;
using vemo::host::CtlClient;
using vemo::host::CtlCommands;
using vemo::host::CtlContext;
using vemo::host::CtlServer;
using vemo::host::HgcmEndpoint;
using vemo::host::HgcmService;
using vemo::host::HostState;
using vemo::host::LogLevel;
using vemo::host::logLine;
using vemo::host::Options;
using vemo::host::RuntimeDirectory;
using vemo::host::WebConsole;

namespace {

// The path given, or name in the private directory, made on first need; empty when it can't be.
std::string socketPath(const std::string& given, const char* name, RuntimeDirectory* directory) {
    if (!given.empty()) {
        return given;
    }
    return directory->create() == 0 ? directory->path() + "/" + name : "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "ctl") == 0) {
        return CtlClient::run(std::vector<std::string>(argv + 2, argv + argc));
    }
    Options options;
    std::string error;
    if (!vemo::host::parseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "vemo-hostd: %s (see --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(vemo::host::usageText().c_str(), stdout);
        return 0;
    }
    vemo::host::setLogLevel(options.logLevel);
    if (options.listDevices) {
        std::vector<std::string> lines;
        if (!CaptureDevices::listLines(&lines, &error)) {
            std::fprintf(stderr, "vemo-hostd: %s\n", error.c_str());
            return 1;
        }
        for (const std::string& line : lines) {
            std::printf("%s\n", line.c_str());
        }
        return 0;
    }

    // A peer that goes away must not kill the process; sends report EPIPE instead.
    signal(SIGPIPE, SIG_IGN);
    // Stop signals are blocked in every thread, the service threads included (they inherit the
    // mask), and taken synchronously below, so stopping runs as ordinary code.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // Every endpoint keeps hundreds of connection slots; the usual soft limit of 1024
    // descriptors would run out before they do.
    vemo::host::TcpServer::raiseDescriptorLimit();
    // Made first, so that it is removed last, once the sockets in it are gone.
    RuntimeDirectory runtime;
    HostState state(options.host);
    if (!state.sources.selectConfigured(&error)) {
        std::fprintf(stderr, "vemo-hostd: %s\n", error.c_str());
        return 2;
    }
    if (!options.recordPath.empty() && state.record.open(options.recordPath) != 0) {
        return 1;
    }
    ClientTable clients(state);
    HgcmService hgcm(state, clients);
    CameraService camera(state);
    ControlPort control(state, clients);
    HgcmEndpoint endpoint(hgcm, options.host.limits.idleLimitMs);
    const CtlContext context{state, clients, camera};
    const CtlCommands commands(context);
    CtlServer ctl(commands);
    const std::string hgcmPath = socketPath(options.hgcmSocket, "hgcm.sock", &runtime);
    const std::string ctlPath =
        socketPath(options.ctlSocket, vemo::host::ctl::kSocketName, &runtime);
    if (hgcmPath.empty() || ctlPath.empty() ||
        camera.start(options.listenAddress, options.cameraPort) != 0 ||
        control.start(options.listenAddress, options.controlPort) != 0 ||
        endpoint.start(hgcmPath) != 0 || ctl.start(ctlPath) != 0) {
        clients.shutdown();
        return 1;
    }
    // Uploads go to the runtime directory, so the console goes before it.
    WebConsole web(context, runtime, options.web);
    std::string webAddress;
    if (options.web.enabled) {
        if (web.start() == 0) {
            webAddress = " web=" + web.url();
        } else if (options.web.portGiven) {
            std::fprintf(stderr, "vemo-hostd: --web-port %u: %s:%u is taken\n",
                         static_cast<unsigned>(options.web.port), options.web.listenAddress.c_str(),
                         static_cast<unsigned>(options.web.port));
            clients.shutdown();
            return 2;
        } else {
            logLine(LogLevel::kWarning, "web console off: %s:%u is taken",
                    options.web.listenAddress.c_str(), static_cast<unsigned>(options.web.port));
        }
    }
    std::printf("vemo-hostd ready camera-port=%u control-port=%u hgcm-socket=%s ctl-socket=%s%s\n",
                static_cast<unsigned>(camera.port()), static_cast<unsigned>(control.port()),
                endpoint.path().c_str(), ctl.path().c_str(), webAddress.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    logLine(LogLevel::kInfo, "stopping on %s", signal == SIGTERM ? "SIGTERM" : "SIGINT");
    // Captures that wait for their picture's time and calls and reads that wait for replies are
    // woken first, so that every thread can be joined.
    state.clock.stop();
    web.stop();
    clients.shutdown();
    endpoint.stop();
    ctl.stop();
    control.stop();
    camera.stop();
    return 0;
}
