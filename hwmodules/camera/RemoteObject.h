#pragma once

#include "RemoteConnection.h"
#include "RemoteParameters.h"

namespace android {

// The guest's handle of one object instance in the host service. The host ties the instance
// to the connection, so calls carry no object id. Each call is one request packet and one
// reply packet; the caller makes sure calls on one connection do not overlap.
//
// States: unbound (no connection), bound (init's call failed), live (init succeeded).
class CRemoteObject {
public:
    CRemoteObject();
    // Sends "__deleteThis" when live, then closes (never deletes) the connection when bound.
    virtual ~CRemoteObject();

    // Binds the object to connection and asks the host to create an instance of className.
    // 0, or -1 on a transport failure (the object then stays bound). Binding twice, or to a
    // NULL connection, is a programming error and stops the process.
    virtual int init(IRemoteConnection* connection, const char* className);
    // Asks the host to delete the instance; 0 when unbound or sent, -1 on a transport failure.
    virtual int destroy();
    // Sends input and fills output (which should be empty) with the reply's entries. -1 on a
    // local failure, with the reason in output's "__reason" text entry. NULL arguments are a
    // programming error and stop the process.
    virtual int executeMethod(CRemoteParameters* input, CRemoteParameters* output);

private:
    CRemoteObject(const CRemoteObject&) = delete;
    CRemoteObject& operator=(const CRemoteObject&) = delete;

    // "__deleteThis", logging the reason of a failure.
    int deleteRemote();

    IRemoteConnection* _connection;
    bool _initialized;
};

}  // namespace android
