#include "GuestDriver.h"

extern "C" __attribute__((visibility("default"))) int vemo_guest_driver_present(void) {
    return 1;
}
