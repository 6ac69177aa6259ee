#pragma once

#include <stddef.h>
#include <stdint.h>

#include <utils/Timers.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* android_thread_id_t;
typedef int (*android_thread_func_t)(void*);

enum {
    ANDROID_PRIORITY_LOWEST = 19,
    ANDROID_PRIORITY_BACKGROUND = 10,
    ANDROID_PRIORITY_NORMAL = 0,
    ANDROID_PRIORITY_FOREGROUND = -2,
    ANDROID_PRIORITY_DISPLAY = -4,
    ANDROID_PRIORITY_URGENT_DISPLAY = -8,
    ANDROID_PRIORITY_AUDIO = -16,
    ANDROID_PRIORITY_URGENT_AUDIO = -19,
    ANDROID_PRIORITY_HIGHEST = -20,
};

// Starts a detached thread running entry(userData), named threadName, at threadPriority (a
// nice value; kept at the default when the process may not raise it). Stores its id in
// *threadId when that is not NULL. Returns 1 on success, 0 on failure.
int androidCreateThreadEtc(android_thread_func_t entry, void* userData, const char* threadName,
                           int32_t threadPriority, size_t threadStackSize,
                           android_thread_id_t* threadId);

#ifdef __cplusplus
}
#endif
