#pragma once

// How many samples the host still holds after a metadata-mode recording, asked of vemo-hostd's
// control command "ctl samples".

#include <string>

namespace vemo {
namespace tools {

// Runs "<hostd> ctl samples", which finds the host's control socket by itself
// ($VEMO_HOSTD_CTL, else the one vemo-hostd running), waits up to 10 s for it and prints what
// it answers. Returns 0 when the host holds no sample, else the exit status after one error
// line.
int reportHostSamples(const std::string& hostd);

}  // namespace tools
}  // namespace vemo
