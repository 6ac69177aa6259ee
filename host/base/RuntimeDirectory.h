#pragma once

#include <string>

namespace vemo {
namespace host {

// The host's private directory for the sockets it makes when the command line names none:
// "vemo-hostd.XXXXXX" under $TMPDIR (or /tmp), mode 0700, removed when the host stops. Clients
// on the same machine find a running host's sockets there.
class RuntimeDirectory {
public:
    static constexpr const char* kPrefix = "vemo-hostd.";

    RuntimeDirectory() = default;
    // Removes the directory if it was made; whatever is in it must be gone by then.
    ~RuntimeDirectory();
    RuntimeDirectory(const RuntimeDirectory&) = delete;
    RuntimeDirectory& operator=(const RuntimeDirectory&) = delete;

    // Makes the directory, once; later calls return the first one's result. Returns 0 or a
    // negative errno, logged here.
    int create();
    // The directory once made; empty before.
    const std::string& path() const { return _path; }

    // Where the directories are made: $TMPDIR, or /tmp when it is unset or empty.
    static std::string parent();

private:
    std::string _path;
    int _created = 1;  // 1 until create runs
};

}  // namespace host
}  // namespace vemo
