#include "WorkerThread.h"

#include <unistd.h>

#include <chrono>

#include <log/log.h>

namespace android {

CWorkerThread::CWorkerThread(IWorker* target)
    : _target(target),
      _exit(true),
      _running(false),
      _thread_id(nullptr),
      _thread(0),
      _starts(0),
      _woken(false) {
    snprintf(_power_status, sizeof(_power_status), "%s", "0");
}

CWorkerThread::~CWorkerThread() {
    stop();
}

int CWorkerThread::start() {
    std::lock_guard<std::mutex> guard(_state_lock);
    ++_starts;
    if (_running) {
        // A thread that was asked to stop but has not left its loop yet simply goes on.
        _exit = false;
        return 0;
    }
    property_get("com.vemo.power.status", _power_status, "0");
    _exit = false;
    _running = true;
    if (androidCreateThreadEtc(_threadLoop, this, "Camera Worker", ANDROID_PRIORITY_URGENT_DISPLAY,
                               0, &_thread_id) == 0) {
        // Nothing will ever lower the flag otherwise, and every stop would wait for ever.
        _running = false;
        _exit = true;
        ALOGE("%s: Unable to create the worker thread", "start");
        return -1;
    }
    return 0;
}

void CWorkerThread::stop() {
    waitForExit(requestExit());
}

uint64_t CWorkerThread::requestExit() {
    uint64_t starts = 0;
    {
        std::lock_guard<std::mutex> guard(_state_lock);
        _exit = true;
        starts = _starts;
    }
    wake();
    return starts;
}

void CWorkerThread::waitForExit(uint64_t starts) {
    if (isWorkerThread()) {
        return;
    }
    // A start that comes while this waits keeps the thread: the stop is over then too.
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(_state_lock);
            if (!_running || _starts != starts) {
                return;
            }
        }
        usleep(100);
    }
}

bool CWorkerThread::isWorkerThread() const {
    return _running && pthread_equal(_thread.load(), pthread_self()) != 0;
}

void CWorkerThread::waitForWork(int timeoutMs) {
    std::unique_lock<std::mutex> guard(_wake_lock);
    if (!_woken && !_exit) {
        _wake_cond.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [this] { return _woken || _exit; });
    }
    _woken = false;
}

void CWorkerThread::wake() {
    {
        std::lock_guard<std::mutex> guard(_wake_lock);
        _woken = true;
    }
    _wake_cond.notify_all();
}

int CWorkerThread::_threadLoop(void* self) {
    CWorkerThread* thread = static_cast<CWorkerThread*>(self);
    thread->_thread = pthread_self();
    for (;;) {
        uint64_t starts = 0;
        {
            std::lock_guard<std::mutex> guard(thread->_state_lock);
            starts = thread->_starts;
        }
        const bool more = thread->_target->inWorkerThread();
        // The decision to leave and the lowering of the flag are one step for start(), which
        // keeps a thread that has not left yet instead of starting a second one.
        std::lock_guard<std::mutex> guard(thread->_state_lock);
        if (!more && thread->_starts != starts && !thread->_exit) {
            // A start came while the pass ended the thread's work: it counts as a fresh start.
            property_get("com.vemo.power.status", thread->_power_status, "0");
            continue;
        }
        if (!more || thread->_exit) {
            thread->_thread = 0;
            ALOGE("Exiting thread loop");
            thread->_running = false;
            break;
        }
    }
    return 0;
}

}  // namespace android
