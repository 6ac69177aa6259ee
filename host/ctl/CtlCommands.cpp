#include "CtlCommands.h"

#include <unistd.h>

#include <charconv>
#include <string>

#include "CtlProtocol.h"
#include "Log.h"
#include "SourceChoice.h"

namespace vemo {
namespace host {

namespace {

// The words of text, split at runs of spaces. With restOfLine, once max - 1 words are taken,
// the rest of the text is the last word.
std::vector<std::string_view> split(std::string_view text, size_t max, bool restOfLine) {
    std::vector<std::string_view> words;
    for (;;) {
        const size_t start = text.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            return words;
        }
        text.remove_prefix(start);
        if (restOfLine && words.size() + 1 == max) {
            words.push_back(text);
            return words;
        }
        const size_t end = text.find(' ');
        words.push_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            return words;
        }
        text.remove_prefix(end);
    }
}

template <typename T>
bool parseNumber(std::string_view text, T* value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// "source=<quoted choice> shows=<quoted description>".
std::string sourceText(const SourceContent& content) {
    return "source=" + ctl::quoted(content.choice().text()) +
           " shows=" + ctl::quoted(content.description());
}

std::string sessionText(const SessionSummary& session) {
    std::string text = session.instance ? "instance=yes" : "instance=no";
    if (session.camera) {
        text += " camera=" + std::to_string(*session.camera);
    }
    if (session.sampleStore != 0) {
        text += " store=" + std::to_string(session.sampleStore);
    }
    return text + " requests=" + std::to_string(session.requests);
}

}  // namespace

const CtlCommands::Command CtlCommands::kCommands[] = {
    {"status", "", 0, 0, false, &CtlCommands::status,
     "limits, cameras, connections, HGCM clients and sample stores"},
    {"samples", "", 0, 0, false, &CtlCommands::samples,
     "the number of samples outstanding in all stores"},
    {"sample", "STORE NUMBER", 2, 2, false, &CtlCommands::sample,
     "one outstanding sample: its format, size, timestamp and bytes"},
    {"source", "CAMERA SOURCE", 2, 2, true, &CtlCommands::source,
     "shows SOURCE (pattern, image:PATH, folder[@N]:PATH, y4m:PATH) on the camera from its next "
     "picture on"},
    {"help", "", 0, 0, false, &CtlCommands::help, "these lines"},
};

void CtlCommands::run(std::string_view line, CtlReply* reply) const {
    const std::vector<std::string_view> head = split(line, 2, true);
    if (head.empty()) {
        reply->fail("empty request; try help");
        return;
    }
    const Command* command = nullptr;
    for (const Command& candidate : kCommands) {
        if (candidate.name == head[0]) {
            command = &candidate;
        }
    }
    if (command == nullptr) {
        reply->fail("unknown command " + ctl::quoted(head[0]) + "; try help");
        return;
    }
    const Arguments arguments =
        head.size() > 1 ? split(head[1], command->maxArguments, command->restOfLine) : Arguments();
    if (arguments.size() < command->minArguments || arguments.size() > command->maxArguments) {
        std::string usage = "usage: " + std::string(command->name);
        if (!command->arguments.empty()) {
            usage += " " + std::string(command->arguments);
        }
        reply->fail(usage);
        return;
    }
    (this->*command->run)(arguments, reply);
}

void CtlCommands::status(const Arguments&, CtlReply* reply) const {
    const HostConfig& config = _context.state.config;
    const std::vector<CameraService::ConnectionSummary> connections =
        _context.cameraService.connections();
    const std::vector<ClientTable::ClientSummary> clients = _context.clients.clients();
    const std::vector<SampleStore::StoreSummary> stores = _context.state.samples.summary();
    size_t outstanding = 0;
    for (const SampleStore::StoreSummary& store : stores) {
        outstanding += store.outstanding;
    }
    reply->line("host pid=" + std::to_string(::getpid()) +
                " cameras=" + std::to_string(config.cameras.size()) + " connections=" +
                std::to_string(connections.size()) + " clients=" + std::to_string(clients.size()) +
                " stores=" + std::to_string(stores.size()) +
                " samples=" + std::to_string(outstanding));
    const HostLimits& limits = config.limits;
    reply->line("limits idle-limit-ms=" + std::to_string(limits.idleLimitMs) +
                " max-driver-clients=" + std::to_string(limits.maxDriverClients) +
                " sample-memory=" + std::to_string(limits.sampleMemoryBytes) +
                " sample-bytes=" + std::to_string(_context.state.samples.bytes()));
    for (size_t ix = 0; ix < config.cameras.size(); ++ix) {
        const CameraConfig& camera = config.cameras[ix];
        reply->line("camera " + std::to_string(ix) + " facing=" + std::to_string(camera.facing) +
                    " orientation=" + std::to_string(camera.orientation) +
                    " fps=" + std::to_string(camera.fps) + " " +
                    sourceText(*_context.state.sources.current(ix)) +
                    " name=" + ctl::quoted(camera.name));
    }
    for (const CameraService::ConnectionSummary& connection : connections) {
        reply->line("connection " + std::to_string(connection.id) + " peer=" + connection.peer +
                    " " + sessionText(connection.session));
    }
    for (const ClientTable::ClientSummary& client : clients) {
        std::string text =
            "client " + std::to_string(client.id) + " handle=" + std::to_string(client.handle);
        if (client.pairing == nullptr) {
            reply->line(text + " pairing=none");
            continue;
        }
        text += client.pairing->live() ? " pairing=open" : " pairing=ended";
        text += " port=" + std::to_string(client.pairing->port()) +
                " unread=" + std::to_string(client.pairing->pendingReplyBytes());
        if (const std::optional<SessionSummary> session = client.pairing->session()) {
            text += " " + sessionText(*session);
        }
        reply->line(text);
    }
    for (const SampleStore::StoreSummary& store : stores) {
        reply->line("store " + std::to_string(store.store) + " outstanding=" +
                    std::to_string(store.outstanding) + " oldest=" + std::to_string(store.oldest) +
                    " newest=" + std::to_string(store.newest));
    }
}

void CtlCommands::samples(const Arguments&, CtlReply* reply) const {
    size_t outstanding = 0;
    for (const SampleStore::StoreSummary& store : _context.state.samples.summary()) {
        outstanding += store.outstanding;
    }
    reply->line(std::to_string(outstanding));
}

void CtlCommands::sample(const Arguments& arguments, CtlReply* reply) const {
    uint32_t store = 0;
    uint64_t number = 0;
    if (!parseNumber(arguments[0], &store)) {
        reply->fail("store " + ctl::quoted(arguments[0]) + " is not a number");
        return;
    }
    if (!parseNumber(arguments[1], &number)) {
        reply->fail("sample " + ctl::quoted(arguments[1]) + " is not a number");
        return;
    }
    const std::shared_ptr<const SampleStore::Sample> sample =
        _context.state.samples.find(store, number);
    if (sample == nullptr) {
        reply->fail("store " + std::to_string(store) + " holds no sample " +
                    std::to_string(number));
        return;
    }
    reply->line("store " + std::to_string(store));
    reply->line("number " + std::to_string(number));
    reply->line("format " + std::string(formatName(sample->format)));
    reply->line("size " + sample->size.text());
    reply->line("timestamp " + std::to_string(sample->timestamp));
    reply->data(sample->bytes.data(), sample->bytes.size(), sample);
}

void CtlCommands::source(const Arguments& arguments, CtlReply* reply) const {
    const size_t cameras = _context.state.config.cameras.size();
    size_t ix = 0;
    if (!parseNumber(arguments[0], &ix) || ix >= cameras) {
        reply->fail("no camera " + ctl::quoted(arguments[0]) + " (this host has " +
                    std::to_string(cameras) + (cameras == 1 ? " camera" : " cameras") +
                    ", numbered from 0)");
        return;
    }
    std::string error;
    const std::optional<SourceChoice> choice = SourceChoice::parse(arguments[1], &error);
    if (!choice) {
        reply->fail("source " + ctl::quoted(arguments[1]) + ": " + error);
        return;
    }
    CameraSources& sources = _context.state.sources;
    const std::shared_ptr<const SourceContent> now = sources.select(ix, *choice, &error);
    if (now == nullptr) {
        const std::string kept = sources.current(ix)->choice().text();
        logLine(LogLevel::kWarning, "camera %zu keeps %s: %s", ix, kept.c_str(), error.c_str());
        reply->fail(error + "; camera " + std::to_string(ix) + " keeps " + kept);
        return;
    }
    logLine(LogLevel::kInfo, "camera %zu shows %s (%s)", ix, now->choice().text().c_str(),
            now->description().c_str());
    reply->line("camera " + std::to_string(ix) + " " + sourceText(*now));
}

void CtlCommands::help(const Arguments&, CtlReply* reply) const {
    for (const Command& command : kCommands) {
        std::string text(command.name);
        if (!command.arguments.empty()) {
            text += " " + std::string(command.arguments);
        }
        reply->line(text + ": " + std::string(command.summary));
    }
}

}  // namespace host
}  // namespace vemo
