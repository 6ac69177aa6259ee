#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "CtlCommands.h"
#include "LiveView.h"
#include "RuntimeDirectory.h"
#include "UploadStore.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace vemo {
namespace host {

// Where and how the web console is served.
struct WebConfig {
    static constexpr uint16_t kDefaultPort = 10080;
    static constexpr size_t kDefaultUploadMax = size_t{256} << 20;

    bool enabled = true;
    std::string listenAddress = "127.0.0.1";
    uint16_t port = kDefaultPort;  // 0 picks a free one
    bool portGiven = false;        // the port was asked for, so that it being taken is an error
    size_t uploadMax = kDefaultUploadMax;
};

// The web console: one page (built into the program) and the JSON API it uses, served over
// HTTP by cpp-httplib on its own threads.
//
// A page on localhost is reachable from every site its user visits, so: a request whose Host
// header is not the console's own address is refused (DNS rebinding), and so is every request
// that changes anything unless it carries the run's token in the X-Vemo-Token header (cross-site
// requests can't read the page that holds it). Served at another address than 127.0.0.1 (the
// user's explicit choice, --web-listen), every request needs the token, in the header or as
// ?token=, and url() carries it. Refusals are 403 and change nothing.
//
// GET  /                        the page
// GET  /api/status              cameras, sources, guests and their last calls
// GET  /api/devices             capture devices
// GET  /api/samples             outstanding samples
// GET  /api/live/IX.jpg         camera IX's newest picture (LiveView)
// POST /api/source              {"camera": IX, "source": "pattern" | "browser" | ...}
// POST /api/upload?camera=IX    a picture or clip as the body; shown at once
// POST /api/frame?camera=IX     a JPEG picture of the browser's camera, when IX shows "browser"
class WebConsole {
public:
    // context and directory must outlive the console.
    WebConsole(const CtlContext& context, RuntimeDirectory& directory, const WebConfig& config);
    // Stops the server and removes the uploads.
    ~WebConsole();
    WebConsole(const WebConsole&) = delete;
    WebConsole& operator=(const WebConsole&) = delete;

    // Listens and serves on a thread of its own. Returns 0, or -EADDRINUSE when the address
    // can't be had; the caller says so, as whether that is an error depends on who chose it.
    int start();
    void stop();

    uint16_t port() const { return _port; }
    // The page's address, as the ready line names it.
    std::string url() const;
    const std::string& token() const { return _token; }

private:
    // Whether the request may go on; else *response holds the 403.
    bool admit(const httplib::Request& request, httplib::Response* response) const;
    void page(const httplib::Request& request, httplib::Response* response) const;
    void source(const httplib::Request& request, httplib::Response* response);
    void upload(const httplib::Request& request, httplib::Response* response);
    void frame(const httplib::Request& request, httplib::Response* response);
    void live(const httplib::Request& request, httplib::Response* response);
    // The camera whose number is text; else false with a 404 in *response.
    bool cameraNamed(const std::string& text, httplib::Response* response, size_t* ix) const;
    // Makes camera ix show choice; false with *error, the camera keeping its source.
    bool choose(size_t ix, const SourceChoice& choice, std::string* error);

    const CtlContext _context;
    const WebConfig _config;
    const std::string _token;
    const bool _loopback;  // served at the default address, where viewing needs no token
    LiveView _live;
    UploadStore _uploads;
    std::mutex _choosing;
    uint16_t _port = 0;
    std::unique_ptr<httplib::Server> _server;
    std::thread _thread;
};

}  // namespace host
}  // namespace vemo
