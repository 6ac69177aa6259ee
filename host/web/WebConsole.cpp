#include "WebConsole.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <random>

#include <httplib.h>

#include "ConsolePage.h"
#include "Log.h"
#include "WebApi.h"

namespace vemo {
namespace host {

namespace {

// Live views and API calls are short; enough threads that three browsers watching every camera
// (each browser keeps up to six connections) are never queued behind each other.
constexpr size_t kThreads = 24;
constexpr const char* kTokenHeader = "X-Vemo-Token";
constexpr std::string_view kTokenMark = "@VEMO_TOKEN@";

std::string makeToken() {
    std::random_device random;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char word[9];
        std::snprintf(word, sizeof(word), "%08x", static_cast<unsigned>(random()));
        token += word;
    }
    return token;
}

void reply(httplib::Response* response, int status, const nlohmann::json& body) {
    response->status = status;
    response->set_header("Cache-Control", "no-store");
    // Guests' strings (call arguments) need not be UTF-8; such bytes show as U+FFFD.
    response->set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                          "application/json");
}

void fail(httplib::Response* response, int status, const std::string& text) {
    reply(response, status, webapi::error(text));
}

}  // namespace

WebConsole::WebConsole(const CtlContext& context, RuntimeDirectory& directory,
                       const WebConfig& config)
    : _context(context),
      _config(config),
      _token(makeToken()),
      _loopback(config.listenAddress == WebConfig().listenAddress),
      _live(context.state.config, context.state.sources),
      _uploads(directory, context.state.config.cameras.size()) {}

WebConsole::~WebConsole() {
    stop();
}

int WebConsole::start() {
    _server = std::make_unique<httplib::Server>();
    httplib::Server& server = *_server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.set_payload_max_length(_config.uploadMax);
    server.set_keep_alive_timeout(1);
    server.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            return admit(request, &response) ? httplib::Server::HandlerResponse::Unhandled
                                             : httplib::Server::HandlerResponse::Handled;
        });
    server.set_error_handler([this](const httplib::Request& request, httplib::Response& response) {
        // cpp-httplib caps form-encoded bodies far below the upload cap.
        if (response.status == 413 &&
            request.get_header_value("Content-Type") == "application/x-www-form-urlencoded") {
            fail(&response, 413,
                 "send files as application/octet-stream; the camera keeps its source");
        } else if (response.status == 413) {
            fail(&response, 413,
                 "the upload is larger than " + std::to_string(_config.uploadMax >> 20) +
                     " MiB (--web-upload-max); the camera keeps its source");
        } else if (response.body.empty()) {
            fail(&response, response.status, "no such resource");
        }
    });
    server.Get("/", [this](const httplib::Request& q, httplib::Response& r) { page(q, &r); });
    server.Get("/api/status", [this](const httplib::Request&, httplib::Response& r) {
        reply(&r, 200, webapi::status(_context));
    });
    server.Get("/api/devices", [this](const httplib::Request&, httplib::Response& r) {
        reply(&r, 200, webapi::devices(_context));
    });
    server.Get("/api/samples", [this](const httplib::Request&, httplib::Response& r) {
        reply(&r, 200, webapi::samples(_context));
    });
    server.Get(R"(/api/live/(\d+)\.jpg)",
               [this](const httplib::Request& q, httplib::Response& r) { live(q, &r); });
    server.Post("/api/source",
                [this](const httplib::Request& q, httplib::Response& r) { source(q, &r); });
    server.Post("/api/upload",
                [this](const httplib::Request& q, httplib::Response& r) { upload(q, &r); });
    server.Post("/api/frame",
                [this](const httplib::Request& q, httplib::Response& r) { frame(q, &r); });

    const int port =
        _config.port == 0
            ? server.bind_to_any_port(_config.listenAddress)
            : (server.bind_to_port(_config.listenAddress, _config.port) ? _config.port : -1);
    if (port <= 0) {
        _server.reset();
        return -EADDRINUSE;
    }
    _port = static_cast<uint16_t>(port);
    _thread = std::thread([&server] { server.listen_after_bind(); });
    // A stop before the server runs would be lost (cpp-httplib's stop() does nothing then) and
    // the join would wait for ever, so start returns once it runs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server.is_running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

void WebConsole::stop() {
    if (_server != nullptr) {
        _server->stop();
    }
    if (_thread.joinable()) {
        _thread.join();
    }
    _server.reset();
}

std::string WebConsole::url() const {
    const std::string base = "http://" + _config.listenAddress + ":" + std::to_string(_port) + "/";
    return _loopback ? base : base + "?token=" + _token;
}

bool WebConsole::admit(const httplib::Request& request, httplib::Response* response) const {
    const std::string host = request.get_header_value("Host");
    const std::string port = ":" + std::to_string(_port);
    // A wildcard address is reached by any of the machine's names; the token guards it alone.
    const bool anyHost = _config.listenAddress == "0.0.0.0";
    if (!anyHost && host != _config.listenAddress + port &&
        !(_loopback && (host == "127.0.0.1" + port || host == "localhost" + port))) {
        fail(response, 403, "this console answers only at its own address");
        return false;
    }
    const bool changes = request.method != "GET" && request.method != "HEAD";
    if (changes || !_loopback) {
        const std::string given = request.has_header(kTokenHeader)
                                      ? request.get_header_value(kTokenHeader)
                                      : request.get_param_value("token");
        if (given != _token) {
            fail(response, 403, "missing or wrong console token");
            return false;
        }
    }
    return true;
}

void WebConsole::page(const httplib::Request&, httplib::Response* response) const {
    std::string text(kConsolePage);
    const size_t mark = text.find(kTokenMark);
    if (mark != std::string::npos) {
        text.replace(mark, kTokenMark.size(), _token);
    }
    response->set_header("Cache-Control", "no-store");
    // The page runs only its own script and loads nothing from elsewhere.
    response->set_header("Content-Security-Policy",
                         "default-src 'self'; img-src 'self' blob: data:; media-src 'self' blob:; "
                         "script-src 'self' 'unsafe-inline'; style-src 'self' 'unsafe-inline'");
    response->set_header("X-Frame-Options", "DENY");
    response->set_content(text, "text/html; charset=utf-8");
}

bool WebConsole::cameraNamed(const std::string& text, httplib::Response* response,
                             size_t* ix) const {
    const size_t cameras = _context.state.config.cameras.size();
    size_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value >= cameras) {
        fail(response, 404,
             "no camera \"" + text + "\" (this host has " + std::to_string(cameras) +
                 ", numbered from 0)");
        return false;
    }
    *ix = value;
    return true;
}

bool WebConsole::choose(size_t ix, const SourceChoice& choice, std::string* error) {
    // One choice at a time, so that the upload a camera shows is the one the store keeps.
    std::lock_guard<std::mutex> guard(_choosing);
    CameraSources& sources = _context.state.sources;
    std::string why;
    const std::shared_ptr<const SourceContent> now = sources.select(ix, choice, &why);
    if (now == nullptr) {
        const std::string kept = sources.current(ix)->choice().text();
        *error = why + "; camera " + std::to_string(ix) + " keeps its source";
        logLine(LogLevel::kWarning, "web console: camera %zu keeps %s: %s", ix, kept.c_str(),
                why.c_str());
        return false;
    }
    _uploads.adopt(ix, choice);
    logLine(LogLevel::kInfo, "web console: camera %zu shows %s (%s)", ix,
            now->choice().text().c_str(), now->description().c_str());
    return true;
}

void WebConsole::source(const httplib::Request& request, httplib::Response* response) {
    const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
    if (!body.is_object() || !body.contains("camera") || !body["camera"].is_number_unsigned() ||
        !body.contains("source") || !body["source"].is_string()) {
        fail(response, 400, "expected {\"camera\": IX, \"source\": TEXT}");
        return;
    }
    const size_t ix = body["camera"].get<size_t>();
    if (ix >= _context.state.config.cameras.size()) {
        fail(response, 404, "no camera " + std::to_string(ix));
        return;
    }
    std::string error;
    const std::optional<SourceChoice> choice =
        webapi::consoleChoice(body["source"].get<std::string>(), &error);
    if (!choice || !choose(ix, *choice, &error)) {
        fail(response, 400, error);
        return;
    }
    reply(response, 200, webapi::status(_context)["cameras"][ix]);
}

void WebConsole::upload(const httplib::Request& request, httplib::Response* response) {
    size_t ix = 0;
    if (!cameraNamed(request.get_param_value("camera"), response, &ix)) {
        return;
    }
    std::string error;
    const std::optional<SourceChoice> choice = _uploads.add(ix, request.body, &error);
    if (!choice) {
        fail(response, 400, error + "; camera " + std::to_string(ix) + " keeps its source");
        return;
    }
    if (!choose(ix, *choice, &error)) {
        _uploads.drop(*choice);
        fail(response, 400, error);
        return;
    }
    reply(response, 200, webapi::status(_context)["cameras"][ix]);
}

void WebConsole::frame(const httplib::Request& request, httplib::Response* response) {
    size_t ix = 0;
    if (!cameraNamed(request.get_param_value("camera"), response, &ix)) {
        return;
    }
    Picture picture;
    std::string error;
    if (!PictureDecoder::decode(reinterpret_cast<const uint8_t*>(request.body.data()),
                                request.body.size(), &picture, &error)) {
        fail(response, 400, "not a picture: " + error);
        return;
    }
    if (!_context.state.sources.current(ix)->push(std::move(picture))) {
        fail(response, 409, "camera " + std::to_string(ix) + " does not show the browser's camera");
        return;
    }
    response->status = 204;
}

void WebConsole::live(const httplib::Request& request, httplib::Response* response) {
    size_t ix = 0;
    if (!cameraNamed(request.matches[1], response, &ix)) {
        return;
    }
    const std::shared_ptr<const std::vector<uint8_t>> picture = _live.picture(ix);
    if (picture->empty()) {
        fail(response, 500, "the picture could not be made");
        return;
    }
    response->set_header("Cache-Control", "no-store");
    response->set_content(reinterpret_cast<const char*>(picture->data()), picture->size(),
                          "image/jpeg");
}

}  // namespace host
}  // namespace vemo
