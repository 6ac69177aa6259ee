#include "WebApi.h"

#include <unistd.h>

#include <map>

#include "CaptureDevices.h"

namespace vemo {
namespace host {
namespace webapi {

namespace {

using nlohmann::json;

json callsOf(const SessionSummary& session) {
    json calls = json::array();
    for (const CallNote& note : session.calls) {
        calls.push_back({{"function", note.function},
                         {"arguments", note.arguments},
                         {"result", note.result},
                         {"micros", note.micros},
                         {"at", note.at}});
    }
    return calls;
}

// A guest recording in metadata mode leaves its frames in a sample store on the host; one in
// copy mode fetches the video stream's frames (stream 0) itself.
const char* recordingMode(const SessionSummary& session) {
    if (session.sampleStore != 0) {
        return "metadata";
    }
    for (const CallNote& call : session.calls) {
        if (call.function == "getFrameContents" && call.arguments == "id=0") {
            return "copy";
        }
    }
    return "off";
}

json guestOf(const SessionSummary& session, const std::map<uint32_t, size_t>& outstanding) {
    json guest = {{"guest", session.label},
                  {"instance", session.instance},
                  {"requests", session.requests},
                  {"calls", callsOf(session)}};
    if (session.camera) {
        const auto store = outstanding.find(session.sampleStore);
        guest["camera"] = *session.camera;
        guest["previewSize"] = session.previewSize;
        guest["previewFormat"] = session.previewFormat;
        guest["pictures"] = session.pictures;
        guest["recording"] = recordingMode(session);
        guest["outstanding"] = store != outstanding.end() ? store->second : 0;
    }
    return guest;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

json status(const CtlContext& context) {
    const HostConfig& config = context.state.config;
    std::vector<SessionSummary> sessions;
    const std::vector<CameraService::ConnectionSummary> connections =
        context.cameraService.connections();
    for (const CameraService::ConnectionSummary& connection : connections) {
        sessions.push_back(connection.session);
    }
    const std::vector<ClientTable::ClientSummary> clients = context.clients.clients();
    for (const ClientTable::ClientSummary& client : clients) {
        if (client.pairing != nullptr) {
            if (std::optional<SessionSummary> session = client.pairing->session()) {
                sessions.push_back(std::move(*session));
            }
        }
    }
    std::map<uint32_t, size_t> outstanding;
    size_t total = 0;
    for (const SampleStore::StoreSummary& store : context.state.samples.summary()) {
        outstanding[store.store] = store.outstanding;
        total += store.outstanding;
    }

    json cameras = json::array();
    for (size_t ix = 0; ix < config.cameras.size(); ++ix) {
        const CameraConfig& camera = config.cameras[ix];
        const std::shared_ptr<const SourceContent> source = context.state.sources.current(ix);
        cameras.push_back({{"index", ix},
                           {"name", camera.name},
                           {"facing", camera.facing == kFacingFront ? "front" : "back"},
                           {"orientation", camera.orientation},
                           {"fps", camera.fps},
                           {"source", source->choice().text()},
                           {"shows", source->description()},
                           {"state", source->stalled().empty() ? "running" : "stalled"},
                           {"reason", source->stalled()},
                           {"guests", json::array()}});
    }
    json idle = json::array();
    for (const SessionSummary& session : sessions) {
        json guest = guestOf(session, outstanding);
        if (session.camera && *session.camera < cameras.size()) {
            cameras[*session.camera]["guests"].push_back(std::move(guest));
        } else {
            idle.push_back(std::move(guest));
        }
    }
    return {{"host",
             {{"pid", ::getpid()},
              {"connections", connections.size()},
              {"clients", clients.size()},
              {"samples", total}}},
            {"cameras", std::move(cameras)},
            {"guests", std::move(idle)}};
}

json samples(const CtlContext& context) {
    json stores = json::array();
    size_t total = 0;
    for (const SampleStore::StoreSummary& store : context.state.samples.summary()) {
        stores.push_back({{"store", store.store},
                          {"outstanding", store.outstanding},
                          {"oldest", store.oldest},
                          {"newest", store.newest}});
        total += store.outstanding;
    }
    return {{"outstanding", total}, {"stores", std::move(stores)}};
}

json devices(const CtlContext&) {
    std::vector<CaptureDevices::Device> found;
    std::string error;
    json list = json::array();
    if (!CaptureDevices::list(&found, &error)) {
        return {{"devices", std::move(list)}, {"error", error}};
    }
    for (const CaptureDevices::Device& device : found) {
        const std::string id = device.path.empty() ? device.name : device.path;
        list.push_back({{"name", device.name},
                        {"path", device.path},
                        {"modes", device.modes},
                        {"source", "webcam:" + id}});
    }
    return {{"devices", std::move(list)}};
}

std::optional<SourceChoice> consoleChoice(std::string_view text, std::string* error) {
    if (text == "pattern") {
        return SourceChoice{};
    }
    if (text == "browser") {
        SourceChoice choice;
        choice.kind = SourceChoice::Kind::kPushed;
        return choice;
    }
    const bool network = startsWith(text, "url:http://") || startsWith(text, "url:https://") ||
                         startsWith(text, "url:rtsp://") || startsWith(text, "url:rtsps://");
    if (!network && text != "webcam" && !startsWith(text, "webcam:")) {
        *error =
            "the console shows pattern, browser, webcam[:DEVICE] or url:URI (http, https, "
            "rtsp); pictures and clips come as uploads";
        return std::nullopt;
    }
    std::string why;
    std::optional<SourceChoice> choice = SourceChoice::parse(text, &why);
    if (!choice) {
        *error = "this host cannot show " + std::string(text) + " (" + why + ")";
    }
    return choice;
}

json error(const std::string& text) {
    return {{"error", text}};
}

}  // namespace webapi
}  // namespace host
}  // namespace vemo
