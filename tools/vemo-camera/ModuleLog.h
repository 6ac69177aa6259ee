#pragma once

// The module's log while a command runs. Its error lines since the last look explain a call
// that failed. Shown on stderr only with --verbose, as the rest of the tool does.

#include <mutex>
#include <string>
#include <vector>

namespace vemo {
namespace tools {

// Installs itself as the log hook for its lifetime. Thread-safe: the module logs from its
// worker thread as well. Keeps the last kKept explaining lines.
class ModuleLog {
public:
    static const size_t kKept = 16;

    explicit ModuleLog(bool verbose);
    ~ModuleLog();

    ModuleLog(const ModuleLog&) = delete;
    ModuleLog& operator=(const ModuleLog&) = delete;

    // True when a reply since the last take() lacked an entry the module looked for: the
    // host's way of refusing a call that has a result.
    bool lackedEntry() const;
    // Explaining lines since the last take() that contain text.
    size_t count(const std::string& text) const;
    // From now on counts every line that contains text, kept or not.
    void watch(const std::string& text);
    size_t watched() const;

    // The explaining lines since the last call, joined with "; ".
    std::string take();

private:
    static bool explains(const std::string& line);
    static void hook(int prio, const char* tag, const char* message, void* cookie);
    static void drop(int prio, const char* tag, const char* message, void* cookie);

    const bool _verbose;
    mutable std::mutex _lock;
    std::vector<std::string> _lines;
    std::string _watch;
    size_t _watched = 0;
};

}  // namespace tools
}  // namespace vemo
