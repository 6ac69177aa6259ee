#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <cutils/properties.h>
#include <utils/threads.h>

namespace android {

// What the worker thread runs: one pass at a time, until a pass returns false.
class IWorker {
public:
    virtual ~IWorker() {}
    // One pass of the worker; false ends the thread.
    virtual bool inWorkerThread() = 0;
};

// The worker thread of a camera device ("Camera Worker"). It repeats the target's pass until
// the pass returns false or an exit is requested. A pass that found nothing to do may call
// waitForWork, so that an idle device does not spin a core; wake cuts the wait short.
class CWorkerThread {
public:
    explicit CWorkerThread(IWorker* target);
    ~CWorkerThread();

    // Starts the thread unless it runs; reads "com.vemo.power.status" first. Returns 0, or -1
    // (logged) when the thread cannot be created.
    int start();
    // Requests the exit and waits until the thread has left its loop, or until a start that
    // came meanwhile kept it running. Called on the worker thread itself (a callback stopping
    // the camera) it only requests the exit. The caller must not hold the device lock.
    void stop();
    // The two halves of stop, for a caller that decides to stop under the device lock and
    // waits after releasing it: a start between the two keeps the thread. requestExit gives
    // the ticket that waitForExit takes.
    uint64_t requestExit();
    void waitForExit(uint64_t ticket);
    bool isRunning() const { return _running; }
    // True on the worker thread.
    bool isWorkerThread() const;

    // Waits up to timeoutMs unless woken or asked to exit. Worker thread only.
    void waitForWork(int timeoutMs);
    // Ends a waitForWork early; any thread.
    void wake();

    // The power status read when the thread was last started.
    const char* powerStatus() const { return _power_status; }

private:
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    static int _threadLoop(void* self);

    char _power_status[PROPERTY_VALUE_MAX];
    IWorker* _target;
    std::atomic<bool> _exit;
    std::atomic<bool> _running;
    android_thread_id_t _thread_id;
    std::atomic<pthread_t> _thread;
    // Guards the decisions to start, to keep and to leave the thread.
    std::mutex _state_lock;
    uint64_t _starts;  // start requests so far

    std::mutex _wake_lock;
    std::condition_variable _wake_cond;
    bool _woken;
};

}  // namespace android
