#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vemo {
namespace host {

// Severity of a log line, most severe first. A line is written when its level is at or above
// the threshold set with setLogLevel (kInfo by default).
enum class LogLevel { kError, kWarning, kInfo, kDebug };

void setLogLevel(LogLevel level);
bool logEnabled(LogLevel level);

// Writes one line "vemo-hostd: <message>" to stderr, or hands "<message>" to the sink. Safe to
// call from any thread; lines never interleave.
void logLine(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Text from a client made fit for a log line: at most 64 characters, anything unprintable
// shown as '?'.
std::string logSafe(std::string_view text);

// Receives every line that passes the threshold instead of stderr; an empty function restores
// stderr. Called with the log lock held: a sink must not log.
using LogSink = std::function<void(LogLevel level, const std::string& message)>;
void setLogSink(LogSink sink);

}  // namespace host
}  // namespace vemo
