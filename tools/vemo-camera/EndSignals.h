#pragma once

// SIGINT and SIGTERM as requests to end: a command that holds a preview window or an output
// file must take its windows down, close its file and close the camera before the process
// ends, and the default action would leave the windows' shared memory behind.

namespace vemo {
namespace tools {

// Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it starts later (the
// module's included), and starts a thread that takes them with sigwait. Call it from main
// before any other thread exists. Children inherit the blocked signals: start them with an
// empty signal mask.
void catchEndSignals();

// The first SIGINT or SIGTERM taken since catchEndSignals, or 0. A second one ends the process
// the default way.
int endSignal();

}  // namespace tools
}  // namespace vemo
