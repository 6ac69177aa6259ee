#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "CtlCommands.h"
#include "SourceChoice.h"

namespace vemo {
namespace host {

// The documents of the web console's JSON API, made from the live host as the control socket's
// commands see it (CtlContext). Any thread.
namespace webapi {

// GET /api/status: the host, each camera with its source and the guests that have it open
// (with their last calls), and the guests that have not chosen a camera yet.
nlohmann::json status(const CtlContext& context);
// GET /api/samples: outstanding samples, in all and by store.
nlohmann::json samples(const CtlContext& context);
// GET /api/devices: the capture devices a camera may show.
nlohmann::json devices(const CtlContext& context);

// A source as the console may name it: "pattern", "browser" (the pushed pictures of the
// browser's camera), "webcam[:DEVICE]" or "url:URI" with a network scheme. Files come only as
// uploads, so a text that would name a host file is refused. Nothing with *error, one sentence.
std::optional<SourceChoice> consoleChoice(std::string_view text, std::string* error);

// {"error": text}.
nlohmann::json error(const std::string& text);

}  // namespace webapi
}  // namespace host
}  // namespace vemo
