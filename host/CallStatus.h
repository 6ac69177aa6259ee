#pragma once

#include <string>
#include <utility>

namespace vemo {
namespace host {

// Outcome of one remote function. A failed call's text goes back to the client in the reply's
// "__error" entry instead of the function's results.
class CallStatus {
public:
    static CallStatus ok() { return CallStatus(); }
    static CallStatus error(std::string text) { return CallStatus(std::move(text)); }

    bool isOk() const { return _ok; }
    const std::string& text() const { return _text; }

private:
    CallStatus() = default;
    explicit CallStatus(std::string text) : _ok(false), _text(std::move(text)) {}

    bool _ok = true;
    std::string _text;
};

}  // namespace host
}  // namespace vemo
