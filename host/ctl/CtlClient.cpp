#include "CtlClient.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include <CLI/CLI.hpp>

#include "CtlProtocol.h"
#include "CtlReplyParser.h"
#include "RuntimeDirectory.h"
#include "SourceChoice.h"

namespace vemo {
namespace host {

namespace {

// Private directories looked at when looking for a host; more than this is not a machine
// where finding one by itself makes sense.
constexpr int kMaxDirectories = 4096;

void complain(const std::string& message) {
    std::fprintf(stderr, "vemo-hostd ctl: %s\n", message.c_str());
}

// A connected socket to path, or -1 with *error.
int connectTo(const std::string& path, std::string* error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        *error = "socket path " + path + " is too long";
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const timeval timeout{CtlClient::kReplyTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        *error = "cannot reach vemo-hostd at " + path + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

struct Options {
    std::string socket;
    std::string out;
    std::string request;
    bool help = false;
};

// A source choice with its relative path made absolute against the working directory; any
// other text as it is, for the host to judge.
std::string absoluteSource(const std::string& text) {
    std::string ignored;
    const std::optional<SourceChoice> choice = SourceChoice::parse(text, &ignored);
    char directory[PATH_MAX];
    if (!choice || ::getcwd(directory, sizeof(directory)) == nullptr) {
        return text;
    }
    return choice->resolvedAgainst(directory).text();
}

bool parse(const std::vector<std::string>& args, Options* options, std::string* error) {
    // CLI11 splits the words from the options, which may stand anywhere.
    CLI::App app("vemo-hostd ctl");
    app.set_help_flag();
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("-h,--help", options->help);
    app.add_option("--socket", options->socket);
    app.add_option("--out", options->out);
    std::vector<std::string> words;
    app.add_option("words", words);
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::ParseError& e) {
        const std::string what = e.what();
        *error = what.find("missing") != std::string::npos
                     ? "option " + what.substr(0, what.find(':')) + " needs a path"
                     : what;
        return false;
    }
    for (const char* name : {"--socket", "--out"}) {
        if (app.get_option(name)->count() > 0 &&
            (name == std::string("--socket") ? options->socket : options->out).empty()) {
            *error = "option " + std::string(name) + " needs a path";
            return false;
        }
    }
    if (!app.remaining().empty()) {
        *error = "unknown option " + app.remaining().front();
        return false;
    }
    for (size_t i = 0; i < words.size(); ++i) {
        // The host opens a source's file from its own working directory, so a path relative
        // to this one is sent absolute.
        if (i == 2 && words[0] == "source") {
            std::string choice = words[2];
            for (size_t j = 3; j < words.size(); ++j) {
                choice += " " + words[j];
            }
            options->request += " " + absoluteSource(choice);
            break;
        }
        options->request += (options->request.empty() ? "" : " ") + words[i];
    }
    if (!options->help && options->request.empty()) {
        *error = "no command";
        return false;
    }
    if (options->request.size() + 1 > ctl::kMaxRequestLine) {
        *error =
            "the command is longer than " + std::to_string(ctl::kMaxRequestLine - 1) + " bytes";
        return false;
    }
    return true;
}

// Reads one reply; false with *error when none comes whole.
bool readReply(int fd, CtlReplyParser* parser, std::string* error) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(CtlClient::kReplyTimeoutSeconds);
    std::vector<uint8_t> buffer(64 * 1024);
    while (parser->state() == CtlReplyParser::State::kMore) {
        if (std::chrono::steady_clock::now() > deadline) {
            *error =
                "no whole reply within " + std::to_string(CtlClient::kReplyTimeoutSeconds) + " s";
            return false;
        }
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error =
                errno == EAGAIN || errno == EWOULDBLOCK
                    ? "no reply within " + std::to_string(CtlClient::kReplyTimeoutSeconds) + " s"
                    : std::string("reading the reply: ") + std::strerror(errno);
            return false;
        }
        if (n == 0) {
            *error = "vemo-hostd closed the connection before the reply ended";
            return false;
        }
        size_t used = 0;
        parser->feed(buffer.data(), static_cast<size_t>(n), &used);
    }
    if (parser->state() == CtlReplyParser::State::kBroken) {
        *error = "the reply is not one of vemo-hostd: " + parser->problem();
        return false;
    }
    return true;
}

bool writeFile(const std::string& path, const std::vector<CtlReplyParser::Item>& items,
               std::string* error) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (file == nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    for (const CtlReplyParser::Item& item : items) {
        if (item.isData && !item.bytes.empty() &&
            std::fwrite(item.bytes.data(), 1, item.bytes.size(), file.get()) != item.bytes.size()) {
            *error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    if (std::fflush(file.get()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

std::string CtlClient::findSocket(std::string* error) {
    const char* named = std::getenv(ctl::kSocketEnv);
    if (named != nullptr && *named != '\0') {
        return named;
    }
    const std::string parent = RuntimeDirectory::parent();
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(parent.c_str()), ::closedir);
    std::vector<std::string> live;
    const std::string prefix = RuntimeDirectory::kPrefix;
    int seen = 0;
    for (dirent* entry = directory != nullptr ? ::readdir(directory.get()) : nullptr;
         entry != nullptr && seen < kMaxDirectories; entry = ::readdir(directory.get()), ++seen) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) {
            continue;
        }
        const std::string path = parent + "/" + entry->d_name + "/" + ctl::kSocketName;
        struct stat info {};
        std::string ignored;
        if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
            continue;
        }
        // A socket whose host is gone refuses; only running hosts count.
        const int fd = connectTo(path, &ignored);
        if (fd >= 0) {
            ::close(fd);
            live.push_back(path);
        }
    }
    const std::string hint = "pass --socket PATH or set " + std::string(ctl::kSocketEnv);
    if (live.empty()) {
        *error = "no running vemo-hostd found in " + parent + " (" + hint + ")";
        return "";
    }
    if (live.size() > 1) {
        *error = std::to_string(live.size()) + " vemo-hostd control sockets in " + parent + " (" +
                 live[0] + ", " + live[1] + (live.size() > 2 ? ", ..." : "") + "): " + hint;
        return "";
    }
    return live[0];
}

int CtlClient::run(const std::vector<std::string>& args) {
    Options options;
    std::string error;
    if (!parse(args, &options, &error)) {
        complain(error + " (see vemo-hostd ctl --help)");
        return kUsage;
    }
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return kOk;
    }
    const std::string path = options.socket.empty() ? findSocket(&error) : options.socket;
    if (path.empty()) {
        complain(error);
        return kFailed;
    }
    const int fd = connectTo(path, &error);
    if (fd < 0) {
        complain(error);
        return kFailed;
    }
    const std::string line = options.request + "\n";
    CtlReplyParser parser;
    const bool sent =
        ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
    if (!sent) {
        error = std::string("sending the request: ") + std::strerror(errno);
    }
    const bool answered = sent && readReply(fd, &parser, &error);
    ::close(fd);
    if (!answered) {
        complain(error);
        return kFailed;
    }
    if (!parser.ok()) {
        complain(parser.error());
        return kFailed;
    }
    if (!options.out.empty() && !writeFile(options.out, parser.items(), &error)) {
        complain(error);
        return kFailed;
    }
    const std::string kept =
        options.out.empty() ? " (--out FILE keeps them)" : " written to " + options.out;
    for (const CtlReplyParser::Item& item : parser.items()) {
        if (item.isData) {
            std::printf("data %zu bytes%s\n", item.bytes.size(), kept.c_str());
        } else {
            std::printf("%s\n", item.text.c_str());
        }
    }
    std::fflush(stdout);
    return kOk;
}

std::string CtlClient::usageText() {
    return std::string(
               "Usage: vemo-hostd ctl [--socket PATH] [--out FILE] COMMAND [ARGUMENT...]\n"
               "Asks a running vemo-hostd through its control socket and prints the answer.\n"
               "\n"
               "Commands:\n"
               "  status                 the host's limits, cameras and their sources,\n"
               "                         connections, HGCM clients, sample stores\n"
               "  samples                the number of outstanding samples\n"
               "  sample STORE NUMBER    one outstanding sample: format, size, timestamp; its\n"
               "                         bytes go to the file of --out\n"
               "  source CAMERA SOURCE     show SOURCE on the camera from its next picture on,\n"
               "                         without a break in any stream: pattern, image:PATH\n"
               "                         (JPEG or PNG), folder:PATH, folder@N:PATH (its\n"
               "                         pictures in turn, N a second) or y4m:PATH (a clip in a\n"
               "                         loop). Relative paths are from here. When SOURCE can't\n"
               "                         be read the camera keeps what it shows\n"
               "  help                   the commands this host knows\n"
               "\n"
               "Options:\n"
               "  --socket PATH          the host's control socket (the ctl-socket of its ready\n"
               "                         line). Without it: $") +
           ctl::kSocketEnv +
           ", else the socket of the one\n"
           "                         vemo-hostd running under $TMPDIR or /tmp\n"
           "  --out FILE             write the reply's data (a sample's bytes) to FILE\n"
           "  -h, --help             show this text and exit\n"
           "\n"
           "Exit status: 0 when the host did what was asked, 1 when it said no or could not\n"
           "be reached, 2 on a bad command line.\n";
}

}  // namespace host
}  // namespace vemo
