// Entry point of every test program. Nothing a test does may reach beyond this machine: the
// module's host address is pinned to loopback before any test runs, unless the guest-driver
// emulation is present, which maps the guest's host alias to loopback itself.

#include <dlfcn.h>

#include <cutils/properties.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    const bool emulated = dlsym(RTLD_DEFAULT, "vemo_guest_driver_present") != nullptr;
    if (!emulated) {
        property_set("ro.tolvd.ip", "127.0.0.1");
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
