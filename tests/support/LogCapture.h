#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace vemo {
namespace test {

// Records every log message written while it exists, as "<letter>/<tag>: <message>" lines
// (the format the platform log writes to stderr). One at a time per process.
class LogCapture {
public:
    // quiet: keep the messages off stderr while capturing.
    explicit LogCapture(bool quiet = true);
    ~LogCapture();

    std::vector<std::string> lines() const;
    // Messages only, without the priority and tag.
    std::vector<std::string> messages() const;
    // True when some message contains text.
    bool contains(const std::string& text) const;
    // Number of messages equal to text.
    size_t count(const std::string& text) const;
    void clear();

private:
    static void hook(int prio, const char* tag, const char* msg, void* cookie);

    mutable std::mutex _lock;
    std::vector<std::string> _lines;
    std::vector<std::string> _messages;
};

}  // namespace test
}  // namespace vemo
