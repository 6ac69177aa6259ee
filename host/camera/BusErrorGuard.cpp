#include "BusErrorGuard.h"

#include <sys/mman.h>

#include <atomic>
#include <mutex>

namespace vemo {
namespace host {

namespace {

// The region the thread guards. initial-exec: the handler must reach it without calling into
// the dynamic loader, which is not safe in a signal handler.
__attribute__((tls_model("initial-exec"))) thread_local BusErrorGuard::Region* tRegion = nullptr;

struct sigaction gPrevious;
std::once_flag gInstalled;

void onBusError(int signal, siginfo_t* info, void* context) {
    BusErrorGuard::Region* region = tRegion;
    const auto* at = static_cast<const uint8_t*>(info->si_addr);
    if (region != nullptr && at >= region->base && at < region->base + region->size &&
        ::mmap(region->base, region->size, PROT_READ | PROT_WRITE,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
        region->faulted = 1;
        return;
    }
    if ((gPrevious.sa_flags & SA_SIGINFO) != 0) {
        gPrevious.sa_sigaction(signal, info, context);
        return;
    }
    if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
        gPrevious.sa_handler(signal);
        return;
    }
    // Returning retries the access, which now ends the process the default way.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(SIGBUS, &fallback, nullptr);
}

void install() {
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &gPrevious);
}

}  // namespace

BusErrorGuard::BusErrorGuard(void* base, size_t size)
    : _region{static_cast<uint8_t*>(base), size, 0} {
    std::call_once(gInstalled, install);
    tRegion = &_region;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

BusErrorGuard::~BusErrorGuard() {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tRegion = nullptr;
}

}  // namespace host
}  // namespace vemo
