#include "support/LogCapture.h"

#include <algorithm>

#include <vemo/log_hook.h>

namespace vemo {
namespace test {

namespace {
const char kLetters[] = "??VDIWEF?";
}

LogCapture::LogCapture(bool quiet) {
    vemo_log_set_hook(&LogCapture::hook, this, quiet ? 1 : 0);
}

LogCapture::~LogCapture() {
    vemo_log_set_hook(nullptr, nullptr, 0);
}

void LogCapture::hook(int prio, const char* tag, const char* msg, void* cookie) {
    auto* self = static_cast<LogCapture*>(cookie);
    const char letter = prio >= 0 && prio <= 8 ? kLetters[prio] : '?';
    std::lock_guard<std::mutex> guard(self->_lock);
    self->_lines.push_back(std::string(1, letter) + "/" + (tag != nullptr ? tag : "") + ": " + msg);
    self->_messages.push_back(msg);
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _lines;
}

std::vector<std::string> LogCapture::messages() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _messages;
}

bool LogCapture::contains(const std::string& text) const {
    std::lock_guard<std::mutex> guard(_lock);
    return std::any_of(_messages.begin(), _messages.end(),
                       [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

size_t LogCapture::count(const std::string& text) const {
    std::lock_guard<std::mutex> guard(_lock);
    return static_cast<size_t>(std::count(_messages.begin(), _messages.end(), text));
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> guard(_lock);
    _lines.clear();
    _messages.clear();
}

}  // namespace test
}  // namespace vemo
