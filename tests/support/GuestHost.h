#pragma once

// A vemo-hostd reachable from the simulated guest of this process: started on free ports with
// a record of everything it sees, and the guest's environment pointed at it (the NAT forwards
// of the service ports, the guest-driver endpoint). The environment is restored and the host
// stopped on destruction. Set the environment before any thread of the test starts.

#include <memory>
#include <string>
#include <vector>

#include "support/HostProcess.h"
#include "support/TempFolder.h"

namespace vemo {
namespace test {

class GuestHost {
public:
    // Without keepRecord the host keeps no record, as a user's host runs (the benchmarks).
    explicit GuestHost(std::string hostdPath, bool keepRecord = true);
    ~GuestHost();

    GuestHost(const GuestHost&) = delete;
    GuestHost& operator=(const GuestHost&) = delete;

    // Starts the host with args (plus its record file, when kept) and points the guest at it.
    bool start(const std::vector<std::string>& args = {});
    const std::string& error() const { return _host.error(); }
    HostProcess& process() { return _host; }

    // Every line of the host's record so far.
    std::vector<std::string> record() const;
    // The requests among them, as "<key>=<value> ..." without the connection prefix.
    std::vector<std::string> requests() const;
    // The record lines of the given kinds ("request", "control", "hgcm"), the connection and
    // client prefixes kept.
    std::vector<std::string> recordOf(const std::vector<std::string>& kinds) const;

private:
    HostProcess _host;
    std::unique_ptr<TempFolder> _folder;  // holds the record, when kept
    std::string _recordPath;
};

}  // namespace test
}  // namespace vemo
