// The remote object's states, its conversation with the host and its failure reasons.

#include <gtest/gtest.h>

#include "FakeConnection.h"
#include "RemoteObject.h"
#include "support/LogCapture.h"

using android::CRemoteObject;
using android::CRemoteParameters;
using vemo::test::FakeConnection;
using vemo::test::LogCapture;

namespace {

CRemoteParameters& okReply() {
    static CRemoteParameters reply;
    static bool filled = false;
    if (!filled) {
        reply.addParam("__return", 0ul);
        filled = true;
    }
    return reply;
}

std::string reasonOf(CRemoteParameters& output) {
    return output.getStrParam("__reason").c_str();
}

}  // namespace

TEST(RemoteObject, UnboundObjectFailsWithNoConnectionAndDestroysQuietly) {
    CRemoteObject object;
    CRemoteParameters input;
    CRemoteParameters output;
    input.addParam("__function", "getNumCameras");
    EXPECT_EQ(object.executeMethod(&input, &output), -1);
    EXPECT_EQ(reasonOf(output), "No connection");
    EXPECT_EQ(object.destroy(), 0);
}

TEST(RemoteObject, EachLocalFailureHasItsReason) {
    struct Case {
        const char* name;
        void (*arrange)(FakeConnection&);
        const char* reason;
        int sends;
    };
    const Case cases[] = {
        {"no packet area", [](FakeConnection& c) { c.failBuffer = true; }, "Not enough memory", 0},
        {"send fails", [](FakeConnection& c) { c.failSend = true; }, "Connection Failure", 0},
        {"no reply", [](FakeConnection&) {}, "Unable to receive response", 1},
        {"empty reply", [](FakeConnection& c) { c.replies.push_back({}); },
         "Unable to receive response", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeConnection connection;
        connection.reply(okReply());  // answers the creation
        LogCapture log;
        CRemoteObject object;
        ASSERT_EQ(object.init(&connection, "CameraDevice"), 0);
        c.arrange(connection);
        CRemoteParameters input;
        CRemoteParameters output;
        input.addParam("__function", "getNumCameras");
        EXPECT_EQ(object.executeMethod(&input, &output), -1);
        EXPECT_EQ(reasonOf(output), c.reason);
        EXPECT_EQ(static_cast<int>(connection.sent.size()), 1 + c.sends);
        // A local failure is reported to the caller, not logged here.
        EXPECT_FALSE(log.contains(c.reason));
    }
}

TEST(RemoteObject, SuccessfulCallHandsOverExactlyTheReplyEntries) {
    FakeConnection connection;
    connection.reply(okReply());
    CRemoteObject object;
    ASSERT_EQ(object.init(&connection, "CameraDevice"), 0);

    CRemoteParameters hostReply;
    hostReply.addParam("__return", 2ul);
    hostReply.addParam("__reason", "from the host");  // just another entry
    connection.reply(hostReply);

    CRemoteParameters input;
    CRemoteParameters output;
    input.addParam("__function", "getNumCameras");
    EXPECT_EQ(object.executeMethod(&input, &output), 0);
    EXPECT_EQ(output.getU32Param("__return"), 2u);
    EXPECT_EQ(reasonOf(output), "from the host");
    EXPECT_EQ(output.getFlattenedSize(), hostReply.getFlattenedSize());
    // The request went out unchanged, in its flattened form.
    EXPECT_EQ(connection.sent.back().size(), static_cast<size_t>(input.getFlattenedSize()));
}

TEST(RemoteObject, FailedInitLeavesObjectBoundButNotLive) {
    FakeConnection connection;
    LogCapture log;
    {
        CRemoteObject object;
        EXPECT_EQ(object.init(&connection, "CameraDevice"), -1);
        EXPECT_TRUE(
            log.contains("init: Unable to initialize object, reason - Unable to receive response"));
        // destroy works in every state and sends once.
        EXPECT_EQ(object.destroy(), -1);
        EXPECT_TRUE(
            log.contains("destroy: Unable to destroy object, reason - Unable to receive response"));
    }
    // The destructor sent nothing more but closed the connection.
    EXPECT_EQ(connection.functions(), (std::vector<std::string>{"__initThis", "__deleteThis"}));
    EXPECT_EQ(connection.closes, 1);
}

// A live object deletes its instance on destroy and again from its destructor, then closes.
TEST(RemoteObject, LiveObjectCreatesDeletesTwiceAndCloses) {
    FakeConnection connection;
    {
        connection.reply(okReply());
        CRemoteObject object;
        ASSERT_EQ(object.init(&connection, "CameraDevice"), 0);
        connection.reply(okReply());
        EXPECT_EQ(object.destroy(), 0);
        connection.reply(okReply());
    }
    EXPECT_EQ(connection.functions(),
              (std::vector<std::string>{"__initThis", "__deleteThis", "__deleteThis"}));
    EXPECT_EQ(connection.closes, 1);
}

TEST(RemoteObjectDeathTest, ProgrammingErrorsStopTheProcessCitingTheSource) {
    FakeConnection connection;
    CRemoteObject object;
    CRemoteParameters message;
    EXPECT_DEATH(object.executeMethod(nullptr, &message), "hwmodules/camera/RemoteObject.*input");
    EXPECT_DEATH(object.executeMethod(&message, nullptr), "hwmodules/camera/RemoteObject.*output");
    EXPECT_DEATH(object.init(nullptr, "CameraDevice"), "hwmodules/camera/RemoteObject.*connection");
    object.init(&connection, "CameraDevice");
    EXPECT_DEATH(object.init(&connection, "CameraDevice"),
                 "hwmodules/camera/RemoteObject.*_connection");
}
