#pragma once

// The guest-driver emulation's own interface. Everything else it offers replaces functions of
// the C library (connect) for the process it is loaded into.

#ifdef __cplusplus
extern "C" {
#endif

// Returns 1. A program looks this symbol up to learn that it runs under the emulation.
int vemo_guest_driver_present(void);

#ifdef __cplusplus
}
#endif
