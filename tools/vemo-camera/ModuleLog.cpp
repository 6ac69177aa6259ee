#include "ModuleLog.h"

#include <string.h>

#include <vemo/log_hook.h>

namespace vemo {
namespace tools {

namespace {

const int kError = 6;

}  // namespace

ModuleLog::ModuleLog(bool verbose) : _verbose(verbose) {
    vemo_log_set_hook(&ModuleLog::hook, this, verbose ? 0 : 1);
}

ModuleLog::~ModuleLog() {
    vemo_log_set_hook(_verbose ? nullptr : &ModuleLog::drop, nullptr, _verbose ? 0 : 1);
}

bool ModuleLog::lackedEntry() const {
    return count("Invalid query for param") > 0;
}

size_t ModuleLog::count(const std::string& text) const {
    std::lock_guard<std::mutex> guard(_lock);
    size_t n = 0;
    for (const std::string& line : _lines) {
        n += line.find(text) != std::string::npos ? 1 : 0;
    }
    return n;
}

void ModuleLog::watch(const std::string& text) {
    std::lock_guard<std::mutex> guard(_lock);
    _watch = text;
    _watched = 0;
}

size_t ModuleLog::watched() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _watched;
}

std::string ModuleLog::take() {
    std::lock_guard<std::mutex> guard(_lock);
    std::string joined;
    for (const std::string& line : _lines) {
        joined += (joined.empty() ? "" : "; ") + line;
    }
    _lines.clear();
    return joined;
}

// Lines the module logs at error priority in the normal course of things, and the ones that
// only name the call that failed.
bool ModuleLog::explains(const std::string& line) {
    static const char* const kRoutine[] = {
        " ----------------------- ",
        "Opening POrt",
        "Connection Made",
        "Connection Closed",
        "HGCMConnect: Succeeded",
        "Failed on ",
        "Failed to set Camera Ix",
        "Supported PS - ",
        "params - ",
        ">>> ",
        "<<< ",
        "Exiting thread loop",
        "CVemoCamera",
        "len and thumb len",
        "takepicture  ",
    };
    for (const char* routine : kRoutine) {
        if (line.find(routine) != std::string::npos) {
            return false;
        }
    }
    return true;
}

void ModuleLog::hook(int prio, const char*, const char* message, void* cookie) {
    if (prio < kError || !explains(message)) {
        return;
    }
    auto* log = static_cast<ModuleLog*>(cookie);
    std::lock_guard<std::mutex> guard(log->_lock);
    if (!log->_watch.empty() && strstr(message, log->_watch.c_str()) != nullptr) {
        ++log->_watched;
    }
    if (log->_lines.size() == kKept) {
        log->_lines.erase(log->_lines.begin());
    }
    log->_lines.push_back(message);
}

void ModuleLog::drop(int, const char*, const char*, void*) {}

}  // namespace tools
}  // namespace vemo
