#include "RemoteObject.h"

#include <log/log.h>

namespace android {

namespace {
const char* const kSource = "hwmodules/camera/RemoteObject";
}

CRemoteObject::CRemoteObject() : _connection(nullptr), _initialized(false) {}

CRemoteObject::~CRemoteObject() {
    if (_initialized && _connection != nullptr) {
        deleteRemote();
    }
    if (_connection != nullptr) {
        _connection->close();
    }
}

int CRemoteObject::init(IRemoteConnection* connection, const char* className) {
    LOG_ALWAYS_FATAL_IF(_connection != nullptr, "%s: init: _connection is already set", kSource);
    LOG_ALWAYS_FATAL_IF(connection == nullptr, "%s: init: connection is NULL", kSource);
    _connection = connection;

    CRemoteParameters request;
    CRemoteParameters reply;
    request.addParam("__function", "__initThis");
    request.addParam("__remote_class", className);
    const int result = executeMethod(&request, &reply);
    if (result != 0) {
        ALOGE("%s: Unable to initialize object, reason - %s", "init",
              reply.getStrParam("__reason").c_str());
    } else {
        _initialized = true;
    }
    return result;
}

int CRemoteObject::destroy() {
    if (_connection == nullptr) {
        return 0;
    }
    return deleteRemote();
}

int CRemoteObject::deleteRemote() {
    CRemoteParameters request;
    CRemoteParameters reply;
    request.addParam("__function", "__deleteThis");
    const int result = executeMethod(&request, &reply);
    if (result != 0) {
        ALOGE("%s: Unable to destroy object, reason - %s", "destroy",
              reply.getStrParam("__reason").c_str());
    }
    return result;
}

int CRemoteObject::executeMethod(CRemoteParameters* input, CRemoteParameters* output) {
    LOG_ALWAYS_FATAL_IF(input == nullptr, "%s: executeMethod: input is NULL", kSource);
    LOG_ALWAYS_FATAL_IF(output == nullptr, "%s: executeMethod: output is NULL", kSource);

    if (_connection == nullptr) {
        output->addParam("__reason", "No connection");
        return -1;
    }
    const int size = input->getFlattenedSize();
    unsigned char* area = _connection->getPktBuffer(static_cast<unsigned int>(size));
    if (area == nullptr) {
        output->addParam("__reason", "Not enough memory");
        return -1;
    }
    const int length = input->flatten(area);
    if (_connection->sendPkt(area, static_cast<unsigned int>(length)) != 0) {
        output->addParam("__reason", "Connection Failure");
        return -1;
    }
    unsigned char* reply = nullptr;
    const int replyLength = _connection->receivePkt(&reply);
    if (replyLength <= 0 || reply == nullptr) {
        output->addParam("__reason", "Unable to receive response");
        return -1;
    }
    output->unflatten(reply, static_cast<size_t>(replyLength));
    return 0;
}

}  // namespace android
