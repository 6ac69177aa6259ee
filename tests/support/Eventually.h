#pragma once

#include <unistd.h>

namespace vemo {
namespace test {

// Polls done every 5 ms for up to timeoutMs; whether it came true.
template <typename Done>
bool eventually(Done done, int timeoutMs = 3000) {
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (done()) {
            return true;
        }
        usleep(5000);
    }
    return done();
}

}  // namespace test
}  // namespace vemo
