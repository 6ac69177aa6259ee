#pragma once

// Child processes of a test: the host service vemo-hostd, one per test on ephemeral ports, and
// short runs of a command-line program with its output captured. Every wait is bounded, and a
// process is signalled only through the pid this code started it with. A child is killed
// when the thread that started it ends, so a crashed test leaves nothing running.

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vemo {
namespace test {

// vemo-hostd for the lifetime of the object; the destructor stops it, also when the test
// fails.
class HostProcess {
public:
    // program: the path of vemo-hostd.
    explicit HostProcess(std::string program);
    ~HostProcess();

    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Starts the program as "program --camera-port 0 --control-port 0 --web-port off --unpaced
    // args...", without LD_PRELOAD in its environment, and waits up to timeout for its ready line
    // on stdout: "vemo-hostd ready camera-port=<port> [key=value...]". Returns false and sets
    // error() when it cannot start, ends first or stays silent (it is then stopped).
    bool start(const std::vector<std::string>& args = {},
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Whether the next start leaves out --unpaced, so that the host delivers pictures at its
    // cameras' rates as it does for a user. Tests and benchmarks want frames as fast as they
    // ask, unless they measure the pacing.
    void setPaced(bool paced) { _paced = paced; }
    // Whether the next start leaves out --web-port off, so that the console is the host's
    // default unless args say otherwise.
    void setDefaultWebConsole(bool keep) { _defaultWeb = keep; }
    // Whether the next start keeps the program's stderr for errorOutput() rather than passing
    // it on to the test's.
    void setCaptureErrors(bool capture) { _captureErrors = capture; }

    // Sends signal, waits up to 5 s for the end, then sends SIGKILL. Returns the wait status,
    // or -1 when nothing was running.
    int stop(int signal = SIGTERM);
    // Waits up to timeout for the program to end by itself. Returns the wait status, or -1
    // when it is still running or nothing was.
    int waitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // A field of the ready line; empty when absent.
    std::string field(const std::string& key) const;
    // A field of the ready line as a port number; -1 when absent or not a port.
    int port(const std::string& key) const;
    int cameraPort() const { return port("camera-port"); }

    pid_t pid() const { return _pid; }
    const std::string& error() const { return _error; }
    // What the program has written to stdout so far, and to stderr when captured.
    std::string output() const;
    std::string errorOutput() const;

private:
    std::string _program;
    pid_t _pid = -1;
    int _output = -1;
    int _errors = -1;
    std::map<std::string, std::string> _fields;
    std::string _error;
    bool _paced = false;
    bool _defaultWeb = false;
    bool _captureErrors = false;
};

struct ProgramResult {
    bool finished = false;  // false: still running at the time-out, and killed
    int exitCode = -1;      // the exit status; -1 when it ended by a signal or did not finish
    std::string out;
    std::string err;
};

// Starts program with args and env applied as runProgram does, stdin from /dev/null, stdout and
// stderr on out and err (-1: inherited). The child is killed when the thread that started it
// ends. Returns the pid, or -1 with errno set.
pid_t spawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& env, int out, int err);
// Waits up to timeout for pid to end. Returns true and sets *status when it has ended (or
// cannot be waited for any more, status -1).
bool waitForExit(pid_t pid, std::chrono::milliseconds timeout, int* status);
// Resident memory of process pid, in bytes; 0 when it can't be read.
size_t residentBytes(pid_t pid);
// Reads "vemo-hostd ready key=value ..." into *fields; false for any other line.
bool parseReadyLine(const std::string& line, std::map<std::string, std::string>* fields);

// Runs program with args, stdin from /dev/null, and waits up to timeout. env changes the
// environment it inherits: "NAME=value" sets NAME, "NAME" removes it. running, when given, is
// called with the program's pid once it has started, for a test that acts on it while it runs;
// the time-out counts from its return.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(30),
                         const std::function<void(pid_t)>& running = nullptr);

}  // namespace test
}  // namespace vemo
