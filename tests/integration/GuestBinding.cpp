#include "GuestBinding.h"

#include <stdlib.h>

namespace vemo {
namespace test {

GuestBinding::GuestBinding(const HostProcess& host) {
    const int cameraPort = host.cameraPort();
    const int controlPort = host.port("control-port");
    const std::string endpoint = host.field("hgcm-socket");
    _complete = cameraPort > 0 && controlPort > 0 && !endpoint.empty();
    set("VEMO_NAT_PORT_10072", std::to_string(cameraPort));
    set("VEMO_NAT_PORT_10088", std::to_string(controlPort));
    set("VEMO_HGCM_SOCKET", endpoint);
}

GuestBinding::~GuestBinding() {
    for (const auto& saved : _saved) {
        if (saved.second.first) {
            setenv(saved.first.c_str(), saved.second.second.c_str(), 1);
        } else {
            unsetenv(saved.first.c_str());
        }
    }
}

void GuestBinding::set(const char* name, const std::string& value) {
    const char* before = getenv(name);
    _saved.emplace_back(name, std::make_pair(before != nullptr, before != nullptr ? before : ""));
    setenv(name, value.c_str(), 1);
}

}  // namespace test
}  // namespace vemo
