#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "CameraService.h"
#include "ClientTable.h"
#include "CtlReply.h"
#include "HostState.h"

namespace vemo {
namespace host {

// What the control commands look at; every part outlives the control socket.
struct CtlContext {
    HostState& state;
    ClientTable& clients;
    CameraService& cameraService;
};

// The commands of the control socket (CtlProtocol.h), found by name in one table: a new command
// is one row and one member. A command that changes the host while it runs (a camera's frame
// source, say) takes its last argument as the rest of the line when that may hold spaces.
// Commands run on the control socket's connection threads, several at once, and reach the
// host's state only through accessors that may be called from any thread.
class CtlCommands {
public:
    explicit CtlCommands(const CtlContext& context) : _context(context) {}

    // Runs one request line, without its line break, and fills the reply.
    void run(std::string_view line, CtlReply* reply) const;

private:
    using Arguments = std::vector<std::string_view>;
    struct Command {
        std::string_view name;
        std::string_view arguments;  // as help shows them
        size_t minArguments;
        size_t maxArguments;
        bool restOfLine;  // the last argument is the rest of the line, spaces and all
        void (CtlCommands::*run)(const Arguments& arguments, CtlReply* reply) const;
        std::string_view summary;
    };
    static const Command kCommands[];

    void status(const Arguments& arguments, CtlReply* reply) const;
    void samples(const Arguments& arguments, CtlReply* reply) const;
    void sample(const Arguments& arguments, CtlReply* reply) const;
    // Loads the source before it answers; the camera keeps its source when that fails.
    void source(const Arguments& arguments, CtlReply* reply) const;
    void devices(const Arguments& arguments, CtlReply* reply) const;
    void help(const Arguments& arguments, CtlReply* reply) const;

    CtlContext _context;
};

}  // namespace host
}  // namespace vemo
