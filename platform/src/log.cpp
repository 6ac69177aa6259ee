// The platform log: one line per message on stderr, and an optional hook.

#include <log/log.h>
#include <vemo/log_hook.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <string>

namespace {

std::mutex gLock;
vemo_log_hook_t gHook = nullptr;
void* gCookie = nullptr;
bool gQuiet = false;

char priorityLetter(int prio) {
    switch (prio) {
        case ANDROID_LOG_VERBOSE:
            return 'V';
        case ANDROID_LOG_DEBUG:
            return 'D';
        case ANDROID_LOG_INFO:
            return 'I';
        case ANDROID_LOG_WARN:
            return 'W';
        case ANDROID_LOG_ERROR:
            return 'E';
        case ANDROID_LOG_FATAL:
            return 'F';
        default:
            return '?';
    }
}

// Formats the message; trailing newlines are dropped so that every message is one line.
std::string format(const char* fmt, va_list ap) {
    if (fmt == nullptr) {
        return std::string();
    }
    va_list copy;
    va_copy(copy, ap);
    const int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&text[0], text.size(), fmt, ap);
    text.resize(static_cast<size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

void emit(int prio, const char* tag, const std::string& text) {
    std::lock_guard<std::mutex> guard(gLock);
    if (!gQuiet) {
        fprintf(stderr, "%c/%s: %s\n", priorityLetter(prio), tag != nullptr ? tag : "",
                text.c_str());
    }
    if (gHook != nullptr) {
        gHook(prio, tag, text.c_str(), gCookie);
    }
}

}  // namespace

extern "C" int __android_log_vprint(int prio, const char* tag, const char* fmt, va_list ap) {
    const std::string text = format(fmt, ap);
    emit(prio, tag, text);
    return static_cast<int>(text.size());
}

extern "C" int __android_log_print(int prio, const char* tag, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int n = __android_log_vprint(prio, tag, fmt, ap);
    va_end(ap);
    return n;
}

extern "C" void __android_log_assert(const char* cond, const char* tag, const char* fmt, ...) {
    std::string text;
    if (fmt != nullptr) {
        va_list ap;
        va_start(ap, fmt);
        text = format(fmt, ap);
        va_end(ap);
    } else if (cond != nullptr) {
        text = std::string("Assertion failed: ") + cond;
    } else {
        text = "Unspecified assertion failed";
    }
    {
        // A fatal message always reaches stderr, also when a hook silences the log.
        std::lock_guard<std::mutex> guard(gLock);
        fprintf(stderr, "F/%s: %s\n", tag != nullptr ? tag : "", text.c_str());
        fflush(stderr);
    }
    abort();
}

extern "C" vemo_log_hook_t vemo_log_set_hook(vemo_log_hook_t hook, void* cookie, int quiet) {
    std::lock_guard<std::mutex> guard(gLock);
    vemo_log_hook_t previous = gHook;
    gHook = hook;
    gCookie = cookie;
    gQuiet = hook != nullptr && quiet != 0;
    return previous;
}
