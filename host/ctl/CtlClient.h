#pragma once

#include <string>
#include <vector>

namespace vemo {
namespace host {

// `vemo-hostd ctl`, the client of the control socket (CtlProtocol.h): sends one request, prints
// the reply's text lines on stdout and writes its data blocks to the file of --out. The socket
// is the one named by --socket, else by $VEMO_HOSTD_CTL, else the one running host's in its
// private directory when there is exactly one. Every wait is bounded.
class CtlClient {
public:
    static constexpr int kReplyTimeoutSeconds = 30;

    // Exit statuses.
    static constexpr int kOk = 0;
    static constexpr int kFailed = 1;  // the host said error, or could not be reached
    static constexpr int kUsage = 2;

    // args: what follows "ctl" on the command line. Returns the exit status; errors go to
    // stderr as one line.
    static int run(const std::vector<std::string>& args);

    // The socket to use when the command line names none, or empty with *error saying why.
    static std::string findSocket(std::string* error);

    static std::string usageText();
};

}  // namespace host
}  // namespace vemo
