#include "support/TempFolder.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vemo {
namespace test {

TempFolder::TempFolder() {
    char name[] = "/tmp/vemo-test-XXXXXX";
    if (mkdtemp(name) != nullptr) {
        _path = name;
    }
}

TempFolder::~TempFolder() {
    if (!_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(_path, ignored);
    }
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace test
}  // namespace vemo
