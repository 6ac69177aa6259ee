#include "RuntimeDirectory.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Log.h"

namespace vemo {
namespace host {

RuntimeDirectory::~RuntimeDirectory() {
    if (!_path.empty()) {
        ::rmdir(_path.c_str());
    }
}

std::string RuntimeDirectory::parent() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

int RuntimeDirectory::create() {
    if (_created != 1) {
        return _created;
    }
    const std::string pattern = parent() + "/" + kPrefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        _created = -errno;
        logLine(LogLevel::kError, "cannot make a directory %s: %s", pattern.c_str(),
                std::strerror(-_created));
        return _created;
    }
    _path = name.data();
    _created = 0;
    return 0;
}

}  // namespace host
}  // namespace vemo
