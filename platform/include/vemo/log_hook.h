#pragma once

// Lets a test or a tool see every log message as it is written. Not part of the platform's
// own interface: the simulated guest and the tests use it.

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*vemo_log_hook_t)(int prio, const char* tag, const char* msg, void* cookie);

// Installs hook (NULL removes it). Messages still go to stderr unless quiet is non-zero.
// Returns the hook that was installed before.
vemo_log_hook_t vemo_log_set_hook(vemo_log_hook_t hook, void* cookie, int quiet);

#ifdef __cplusplus
}
#endif
