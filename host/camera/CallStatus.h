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
    static CallStatus error(std::string text) { return CallStatus(std::move(text), false); }
    // The same failure as an earlier call's, which was logged then: a guest that repeats a bad
    // call frame after frame gets its error every time but the log only one warning.
    static CallStatus repeatedError(std::string text) { return CallStatus(std::move(text), true); }

    bool isOk() const { return _ok; }
    bool repeated() const { return _repeated; }
    const std::string& text() const { return _text; }

private:
    CallStatus() = default;
    CallStatus(std::string text, bool repeated)
        : _ok(false), _repeated(repeated), _text(std::move(text)) {}

    bool _ok = true;
    bool _repeated = false;
    std::string _text;
};

}  // namespace host
}  // namespace vemo
