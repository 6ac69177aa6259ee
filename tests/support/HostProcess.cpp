#include "support/HostProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <thread>
#include <utility>

extern char** environ;

namespace vemo {
namespace test {

namespace {

using Clock = std::chrono::steady_clock;

const char kReadyPrefix[] = "vemo-hostd ready";
const std::chrono::seconds kStopTimeout(5);
const std::chrono::milliseconds kPollInterval(5);

// A nameless file that takes a child's output: unlike a pipe it never fills up and blocks the
// child, and it can be read at any time through the descriptor.
int openCaptureFile() {
    const char* folder = getenv("TMPDIR");
    std::string pattern = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                          "/vemo-test-output-XXXXXX";
    const int fd = mkostemp(&pattern[0], O_CLOEXEC);
    if (fd >= 0) {
        unlink(pattern.c_str());
    }
    return fd;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = pread(fd, buffer, sizeof(buffer), offset);
        if (n <= 0) {
            return text;
        }
        text.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
}

std::vector<std::string> childEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.push_back(*entry);
    }
    for (const std::string& change : changes) {
        const std::string prefix = change.substr(0, change.find('=')) + "=";
        std::vector<std::string> kept;
        for (const std::string& entry : environment) {
            if (entry.compare(0, prefix.size(), prefix) != 0) {
                kept.push_back(entry);
            }
        }
        if (change.find('=') != std::string::npos) {
            kept.push_back(change);
        }
        environment.swap(kept);
    }
    return environment;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Ends pid: signal, then SIGKILL when it is still there after kStopTimeout. Returns the wait
// status, -1 when it could not be collected.
int terminate(pid_t pid, int signal) {
    int status = -1;
    kill(pid, signal);
    if (waitForExit(pid, kStopTimeout, &status)) {
        return status;
    }
    kill(pid, SIGKILL);
    return waitForExit(pid, kStopTimeout, &status) ? status : -1;
}

std::string describeStatus(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("signal ") + strsignal(WTERMSIG(status));
    }
    return "wait status " + std::to_string(status);
}

}  // namespace

pid_t spawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& envChanges, int out, int err) {
    std::vector<std::string> argvTexts{program};
    argvTexts.insert(argvTexts.end(), args.begin(), args.end());
    std::vector<std::string> envTexts = childEnvironment(envChanges);
    const std::vector<char*> argv = pointersTo(argvTexts);
    const std::vector<char*> envp = pointersTo(envTexts);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    // The child of a process that may have other threads: system calls only from here on.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(127);
    }
    const int input = open("/dev/null", O_RDONLY);
    dup2(input, STDIN_FILENO);
    if (out >= 0) {
        dup2(out, STDOUT_FILENO);
    }
    if (err >= 0) {
        dup2(err, STDERR_FILENO);
    }
    close_range(3, ~0U, 0);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
}

bool waitForExit(pid_t pid, std::chrono::milliseconds timeout, int* status) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const pid_t result = waitpid(pid, status, WNOHANG);
        if (result == pid) {
            return true;
        }
        if (result < 0 && errno != EINTR) {
            *status = -1;
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

size_t residentBytes(pid_t pid) {
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    size_t size = 0;
    size_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

bool parseReadyLine(const std::string& line, std::map<std::string, std::string>* fields) {
    const size_t prefixLength = sizeof(kReadyPrefix) - 1;
    if (line.compare(0, prefixLength, kReadyPrefix) != 0 ||
        (line.size() > prefixLength && line[prefixLength] != ' ')) {
        return false;
    }
    size_t position = prefixLength;
    while (position < line.size()) {
        const size_t begin = line.find_first_not_of(' ', position);
        if (begin == std::string::npos) {
            break;
        }
        const size_t end = std::min(line.find(' ', begin), line.size());
        const std::string token = line.substr(begin, end - begin);
        const size_t equals = token.find('=');
        if (equals != std::string::npos) {
            (*fields)[token.substr(0, equals)] = token.substr(equals + 1);
        }
        position = end;
    }
    return true;
}

HostProcess::HostProcess(std::string program) : _program(std::move(program)) {}

HostProcess::~HostProcess() {
    stop();
    for (const int fd : {_output, _errors}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool HostProcess::start(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    if (_pid > 0) {
        _error = _program + " is already running";
        return false;
    }
    _fields.clear();
    _error.clear();
    for (int* fd : {&_output, &_errors}) {
        if (*fd >= 0) {
            close(*fd);
        }
    }
    _output = openCaptureFile();
    _errors = _captureErrors ? openCaptureFile() : -1;
    if (_output < 0 || (_captureErrors && _errors < 0)) {
        _error = std::string("cannot create a file for the output: ") + strerror(errno);
        return false;
    }
    // No web console unless a test asks for one (a later --web-port wins).
    std::vector<std::string> allArgs{"--camera-port", "0", "--control-port", "0"};
    if (!_defaultWeb) {
        allArgs.insert(allArgs.end(), {"--web-port", "off"});
    }
    if (!_paced) {
        allArgs.push_back("--unpaced");
    }
    allArgs.insert(allArgs.end(), args.begin(), args.end());
    _pid = spawnProgram(_program, allArgs, {"LD_PRELOAD"}, _output, _errors);
    if (_pid < 0) {
        _error = std::string("cannot start ") + _program + ": " + strerror(errno);
        return false;
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const std::string text = readAll(_output);
        size_t begin = 0;
        for (size_t end = text.find('\n'); end != std::string::npos;
             begin = end + 1, end = text.find('\n', begin)) {
            if (parseReadyLine(text.substr(begin, end - begin), &_fields)) {
                return true;
            }
        }
        int status = 0;
        if (waitForExit(_pid, std::chrono::milliseconds(0), &status)) {
            _pid = -1;
            _error = _program + " ended before it was ready (" + describeStatus(status) + ")";
            return false;
        }
        if (Clock::now() >= deadline) {
            stop();
            _error = _program + " printed no ready line within " + std::to_string(timeout.count()) +
                     " ms";
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

int HostProcess::stop(int signal) {
    if (_pid <= 0) {
        return -1;
    }
    const int status = terminate(_pid, signal);
    _pid = -1;
    return status;
}

int HostProcess::waitForEnd(std::chrono::milliseconds timeout) {
    int status = -1;
    if (_pid <= 0 || !waitForExit(_pid, timeout, &status)) {
        return -1;
    }
    _pid = -1;
    return status;
}

std::string HostProcess::field(const std::string& key) const {
    const auto found = _fields.find(key);
    return found != _fields.end() ? found->second : std::string();
}

int HostProcess::port(const std::string& key) const {
    const std::string text = field(key);
    char* end = nullptr;
    const long value = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > 65535) {
        return -1;
    }
    return static_cast<int>(value);
}

std::string HostProcess::output() const {
    return _output >= 0 ? readAll(_output) : std::string();
}

std::string HostProcess::errorOutput() const {
    return _errors >= 0 ? readAll(_errors) : std::string();
}

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env, std::chrono::milliseconds timeout,
                         const std::function<void(pid_t)>& running) {
    ProgramResult result;
    const int out = openCaptureFile();
    const int err = openCaptureFile();
    const pid_t pid = out >= 0 && err >= 0 ? spawnProgram(program, args, env, out, err) : -1;
    if (pid < 0) {
        result.err = std::string("cannot start ") + program + ": " + strerror(errno);
    } else {
        if (running) {
            running(pid);
        }
        int status = 0;
        result.finished = waitForExit(pid, timeout, &status);
        if (!result.finished) {
            kill(pid, SIGKILL);
            waitForExit(pid, kStopTimeout, &status);
        } else if (status != -1 && WIFEXITED(status)) {
            result.exitCode = WEXITSTATUS(status);
        }
        result.out = readAll(out);
        result.err = readAll(err);
    }
    if (out >= 0) {
        close(out);
    }
    if (err >= 0) {
        close(err);
    }
    return result;
}

}  // namespace test
}  // namespace vemo
