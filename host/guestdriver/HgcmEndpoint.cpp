#include "HgcmEndpoint.h"

#include <unistd.h>

#include "HgcmChannel.h"
#include "Log.h"
#include "UnixListener.h"

namespace vemo {
namespace host {

HgcmEndpoint::HgcmEndpoint(IHgcmService& service, uint32_t idleLimitMs)
    : _service(service),
      _server(
          "guest-driver endpoint",
          [this](int fd, unsigned id) {
              HgcmChannel(fd, id, _service, [this, id] { _server.settle(id); }).run();
          },
          idleLimitMs) {}

HgcmEndpoint::~HgcmEndpoint() {
    stop();
}

int HgcmEndpoint::start(const std::string& path) {
    const int fd = listenUnix(path, "guest-driver endpoint");
    if (fd < 0) {
        return fd;
    }
    _path = path;
    const int adopted = _server.adopt(fd);
    if (adopted != 0) {
        ::unlink(_path.c_str());
        _path.clear();
        return adopted;
    }
    logLine(LogLevel::kInfo, "guest-driver endpoint: listening at %s", _path.c_str());
    return 0;
}

void HgcmEndpoint::stop() {
    _server.stop();
    if (!_path.empty()) {
        ::unlink(_path.c_str());
        _path.clear();
    }
}

}  // namespace host
}  // namespace vemo
