#pragma once

// Lets a test make the next thread creations fail, as when the system is out of threads. Not
// part of the platform's own interface.

#ifdef __cplusplus
extern "C" {
#endif

// The next count calls of androidCreateThreadEtc fail.
void vemo_thread_fail_next(int count);

#ifdef __cplusplus
}
#endif
