#pragma once

// The guest-driver emulation's own interface. Everything else it offers replaces functions of
// the C library for the process it is loaded into: connect (the guest's NAT), and open,
// openat, ioctl, close and dup for the device "/dev/vboxguest", which reaches the host's
// guest-driver endpoint at the Unix socket named by VEMO_HGCM_SOCKET (vemo/hgcm_wire.h).

// Milliseconds that a driver request waits for the endpoint to take or give the next bytes
// before it gives up with EIO (default 30000). Read when the device is opened.
#define VEMO_HGCM_TIMEOUT_ENV "VEMO_HGCM_TIMEOUT_MS"

#ifdef __cplusplus
extern "C" {
#endif

// Returns 1. A program looks this symbol up to learn that it runs under the emulation.
int vemo_guest_driver_present(void);

#ifdef __cplusplus
}
#endif
