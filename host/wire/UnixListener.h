#pragma once

#include <string>

namespace vemo {
namespace host {

// Binds a non-blocking Unix stream socket at path and listens on it. A socket file left there
// by a process that is gone (nobody accepts on it) is replaced; anything else at path is an
// error. Returns the descriptor, or a negative errno after one log line that starts with
// service ("control socket: ...").
int listenUnix(const std::string& path, const std::string& service);

}  // namespace host
}  // namespace vemo
