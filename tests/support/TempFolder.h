#pragma once

#include <string>

namespace vemo {
namespace test {

// A private folder under /tmp, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Empty when the folder could not be made.
    const std::string& path() const { return _path; }
    // path() + "/" + name.
    std::string file(const std::string& name) const { return _path + "/" + name; }

private:
    std::string _path;
};

// The bytes of a file; empty when it can't be read.
std::string readText(const std::string& path);

}  // namespace test
}  // namespace vemo
