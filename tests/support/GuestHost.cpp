#include "support/GuestHost.h"

#include <stdlib.h>

#include <fstream>

namespace vemo {
namespace test {

namespace {
const char* const kGuestVariables[] = {"VEMO_NAT_PORT_10072", "VEMO_NAT_PORT_10088",
                                       "VEMO_HGCM_SOCKET"};
}

GuestHost::GuestHost(std::string hostdPath, bool keepRecord) : _host(std::move(hostdPath)) {
    if (keepRecord) {
        _folder = std::make_unique<TempFolder>();
        _recordPath = _folder->file("record.log");
    }
}

GuestHost::~GuestHost() {
    _host.stop();
    for (const char* name : kGuestVariables) {
        unsetenv(name);
    }
}

bool GuestHost::start(const std::vector<std::string>& args) {
    std::vector<std::string> all;
    if (!_recordPath.empty()) {
        all = {"--record", _recordPath};
    }
    all.insert(all.end(), args.begin(), args.end());
    if (!_host.start(all)) {
        return false;
    }
    setenv("VEMO_NAT_PORT_10072", std::to_string(_host.cameraPort()).c_str(), 1);
    setenv("VEMO_NAT_PORT_10088", std::to_string(_host.port("control-port")).c_str(), 1);
    setenv("VEMO_HGCM_SOCKET", _host.field("hgcm-socket").c_str(), 1);
    return true;
}

std::vector<std::string> GuestHost::record() const {
    std::vector<std::string> lines;
    std::ifstream in(_recordPath);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> GuestHost::requests() const {
    std::vector<std::string> result;
    for (const std::string& line : record()) {
        if (line.compare(0, 8, "request ") != 0) {
            continue;
        }
        // "request client=5 __function=..." or "request conn=3 ...": drop the first two words.
        const size_t second = line.find(' ', 8);
        result.push_back(second == std::string::npos ? std::string() : line.substr(second + 1));
    }
    return result;
}

std::vector<std::string> GuestHost::recordOf(const std::vector<std::string>& kinds) const {
    std::vector<std::string> result;
    for (const std::string& line : record()) {
        for (const std::string& kind : kinds) {
            if (line.compare(0, kind.size() + 1, kind + " ") == 0) {
                result.push_back(line);
                break;
            }
        }
    }
    return result;
}

}  // namespace test
}  // namespace vemo
