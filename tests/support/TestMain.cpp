// Entry point of every test program. Nothing a test does may reach beyond this machine: the
// module's host address is pinned to loopback before any test runs, unless the guest-driver
// emulation is present, which maps the guest's host alias to loopback itself.

#include <dlfcn.h>

#include <cutils/properties.h>
#include <gtest/gtest.h>

// Sanitizer settings of every test program. The guest-driver emulation may be preloaded, so the
// address sanitizer must not insist on coming first.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=1:verify_asan_link_order=0:abort_on_error=0";
}
extern "C" const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
extern "C" const char* __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1";
}

int main(int argc, char** argv) {
    const bool emulated = dlsym(RTLD_DEFAULT, "vemo_guest_driver_present") != nullptr;
    if (!emulated) {
        property_set("ro.tolvd.ip", "127.0.0.1");
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
