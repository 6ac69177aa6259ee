// vemo-camera params and set: the parameters of an open camera, as get_parameters hands them
// out, and changes applied with set_parameters on top of them.

#include <stdio.h>

#include <string>

#include "CameraSession.h"
#include "Commands.h"
#include "ParameterText.h"
#include "Report.h"

namespace vemo {
namespace tools {

namespace {

void printTable(int index, const ParameterMap& parameters, const ParameterMap& changed) {
    printf("camera %d: %zu parameters\n", index, parameters.size());
    fputs(parameterTable(parameters, changed).c_str(), stdout);
}

}  // namespace

int runParams(guest::CameraService* service, const Options& options) {
    if (!options.arguments.empty()) {
        return usageError("params takes no arguments");
    }
    int status = 0;
    std::unique_ptr<CameraSession> session = CameraSession::open(*service, options, &status);
    if (session == nullptr) {
        return status;
    }
    ParameterMap parameters;
    if (!session->parameters(&parameters)) {
        return fail(session->error("get_parameters gave nothing"));
    }
    printTable(session->index(), parameters, {});
    return 0;
}

int runSet(guest::CameraService* service, const Options& options) {
    if (options.arguments.empty()) {
        return usageError("set needs KEY=VALUE arguments");
    }
    ParameterMap changes;
    std::string error;
    for (const std::string& argument : options.arguments) {
        if (!addAssignment(argument, &changes, &error)) {
            return usageError(error);
        }
    }
    int status = 0;
    std::unique_ptr<CameraSession> session = CameraSession::open(*service, options, &status);
    if (session == nullptr) {
        return status;
    }
    ParameterMap before;
    if (!session->parameters(&before)) {
        return fail(session->error("get_parameters gave nothing"));
    }
    const int result = session->apply(changes);
    if (result != 0) {
        return fail(session->error("set_parameters refused the parameters (" +
                                   std::to_string(result) + ")"));
    }
    ParameterMap after;
    if (!session->parameters(&after)) {
        return fail(session->error("get_parameters gave nothing"));
    }
    // What the device reports differently now; a key it dropped shows as missing below.
    ParameterMap changed;
    for (const auto& entry : after) {
        const auto old = before.find(entry.first);
        if (old == before.end() || old->second != entry.second) {
            changed.insert(entry);
        }
    }
    printf("camera %d: set_parameters accepted %zu change%s; * marks what differs now\n",
           session->index(), changes.size(), changes.size() == 1 ? "" : "s");
    printTable(session->index(), after, changed);
    for (const auto& change : changes) {
        const auto now = after.find(change.first);
        if (before.count(change.first) == 0 && now != after.end()) {
            printf("note: %s is a new key: the device had no such parameter\n",
                   change.first.c_str());
        } else if (now == after.end()) {
            printf("note: %s is not among the parameters the device reports\n",
                   change.first.c_str());
        } else if (now->second != change.second) {
            printf("note: %s is %s, not %s as asked\n", change.first.c_str(), now->second.c_str(),
                   change.second.c_str());
        }
    }
    return 0;
}

}  // namespace tools
}  // namespace vemo
