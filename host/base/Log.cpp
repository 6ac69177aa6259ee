#include "Log.h"

#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace vemo {
namespace host {

namespace {

std::atomic<int> gThreshold{static_cast<int>(LogLevel::kInfo)};
std::mutex gLock;
LogSink gSink;

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace

void setLogLevel(LogLevel level) {
    gThreshold.store(static_cast<int>(level));
}

bool logEnabled(LogLevel level) {
    return static_cast<int>(level) <= gThreshold.load();
}

void logLine(LogLevel level, const char* format, ...) {
    if (!logEnabled(level)) {
        return;
    }
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);

    std::lock_guard<std::mutex> guard(gLock);
    if (gSink) {
        gSink(level, text);
        return;
    }
    // One write per line, so that lines from several threads stay whole.
    writeAll(STDERR_FILENO, std::string("vemo-hostd: ") + text + "\n");
}

std::string logSafe(std::string_view text) {
    constexpr size_t kMaxLength = 64;
    std::string safe;
    for (char c : text.substr(0, kMaxLength)) {
        safe += c >= 0x20 && c < 0x7F ? c : '?';
    }
    if (text.size() > kMaxLength) {
        safe += "...";
    }
    return safe;
}

void setLogSink(LogSink sink) {
    std::lock_guard<std::mutex> guard(gLock);
    gSink = std::move(sink);
}

}  // namespace host
}  // namespace vemo
