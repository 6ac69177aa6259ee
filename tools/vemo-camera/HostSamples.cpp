#include "HostSamples.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "Arguments.h"
#include "Report.h"

extern char** environ;

namespace vemo {
namespace tools {

namespace {

const std::chrono::seconds kTimeout(10);
const size_t kMaxOutput = 4096;

// Runs the command with stdout into *out; returns its wait status, or -1 when it could not be
// started or did not end in time (it is then killed).
int run(const std::vector<std::string>& args, std::string* out) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The command runs with SIGINT and SIGTERM blocked; its child should not inherit that.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    bool open = true;
    while (open && std::chrono::steady_clock::now() < deadline && out->size() < kMaxOutput) {
        struct pollfd readable = {pipeFds[0], POLLIN, 0};
        if (poll(&readable, 1, 100) <= 0) {
            continue;
        }
        char chunk[512];
        const ssize_t got = read(pipeFds[0], chunk, sizeof(chunk));
        open = got > 0;
        if (got > 0) {
            out->append(chunk, static_cast<size_t>(got));
        }
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        poll(nullptr, 0, 20);
    }
    return status;
}

}  // namespace

int reportHostSamples(const std::string& hostd) {
    std::string out;
    const int status = run({hostd, "ctl", "samples"}, &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return fail("cannot ask " + hostd + " ctl samples for the host's outstanding samples" +
                    (status == -1 ? " (it did not run or end)" : ""));
    }
    long count = 0;
    if (!parseInt(out, 0, 1L << 40, &count)) {
        printf("host: %s\n", out.c_str());
        return 0;
    }
    if (count != 0) {
        return fail("the host still holds " + out + " samples after every record was handed back");
    }
    printf("host: holds no sample (ctl samples answers 0)\n");
    return 0;
}

}  // namespace tools
}  // namespace vemo
