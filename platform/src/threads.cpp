// Threads and clocks of the platform.

#include <utils/threads.h>
#include <vemo/thread_hook.h>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>

namespace {

std::atomic<int> gFailNext{0};

struct ThreadStart {
    android_thread_func_t entry;
    void* userData;
    std::string name;
    int32_t priority;
};

void* threadMain(void* arg) {
    ThreadStart* start = static_cast<ThreadStart*>(arg);
    // The kernel keeps at most 15 characters of a thread's name.
    pthread_setname_np(pthread_self(), start->name.substr(0, 15).c_str());
    // A nice value applies to the calling thread alone on Linux. Raising it needs a privilege
    // the process may not have; the thread then runs at the default.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), start->priority);
    android_thread_func_t entry = start->entry;
    void* userData = start->userData;
    delete start;
    entry(userData);
    return nullptr;
}

}  // namespace

extern "C" int androidCreateThreadEtc(android_thread_func_t entry, void* userData,
                                      const char* threadName, int32_t threadPriority,
                                      size_t threadStackSize, android_thread_id_t* threadId) {
    int pending = gFailNext.load();
    while (pending > 0) {
        if (gFailNext.compare_exchange_weak(pending, pending - 1)) {
            return 0;
        }
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (threadStackSize != 0) {
        pthread_attr_setstacksize(&attr, threadStackSize);
    }
    ThreadStart* start =
        new ThreadStart{entry, userData, threadName != nullptr ? threadName : "", threadPriority};
    pthread_t thread;
    const int result = pthread_create(&thread, &attr, threadMain, start);
    pthread_attr_destroy(&attr);
    if (result != 0) {
        delete start;
        return 0;
    }
    if (threadId != nullptr) {
        *threadId = reinterpret_cast<android_thread_id_t>(thread);
    }
    return 1;
}

extern "C" void vemo_thread_fail_next(int count) {
    gFailNext.store(count);
}

extern "C" nsecs_t systemTime(int clock) {
    static const clockid_t clocks[] = {CLOCK_REALTIME, CLOCK_MONOTONIC, CLOCK_PROCESS_CPUTIME_ID,
                                       CLOCK_THREAD_CPUTIME_ID, CLOCK_BOOTTIME};
    const clockid_t id =
        clock >= 0 && clock <= SYSTEM_TIME_BOOTTIME ? clocks[clock] : CLOCK_MONOTONIC;
    struct timespec t;
    clock_gettime(id, &t);
    return static_cast<nsecs_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}
