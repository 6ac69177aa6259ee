#include "EndSignals.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

namespace vemo {
namespace tools {

namespace {

std::atomic<int> g_endSignal{0};

sigset_t endSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void catchEndSignals() {
    const sigset_t set = endSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // The signals are taken here, outside any handler, so no call of the module is cut short
    // by EINTR and the commands see them at their next bounded wait. The thread lives until
    // the process ends.
    std::thread([set] {
        for (;;) {
            int taken = 0;
            if (sigwait(&set, &taken) != 0) {
                continue;
            }
            int none = 0;
            if (!g_endSignal.compare_exchange_strong(none, taken)) {
                // A second one while the command cleans up: the user wants it gone now.
                signal(taken, SIG_DFL);
                pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
                raise(taken);
            }
        }
    }).detach();
}

int endSignal() {
    return g_endSignal.load();
}

}  // namespace tools
}  // namespace vemo
