#pragma once

// A progress line for long work, on stderr when stderr is a terminal; rewritten in place and
// cleared at the end. Elsewhere (a pipe, a test) it shows nothing, so stderr keeps to errors.

#include <chrono>
#include <string>

namespace vemo {
namespace tools {

class Progress {
public:
    Progress();
    // Clears the line.
    ~Progress();

    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Shows text in place of the last line, at most ten times a second.
    void show(const std::string& text);

private:
    const bool _shown;
    size_t _width = 0;
    std::chrono::steady_clock::time_point _last;
};

}  // namespace tools
}  // namespace vemo
