// The record of what the host saw (--record): the lines of a whole conversation of an open
// camera in the guest's order, and the TCP camera port's requests.

#include <gtest/gtest.h>

#include "HgcmTestSupport.h"

namespace vemo {
namespace host {
namespace {

using test::request;

TEST(HostRecord, OpenCallCloseConversationIsRecordedInOrder) {
    test::HostLogCapture log;
    test::HostRig rig;
    ASSERT_TRUE(rig.started);
    bool ok = false;
    test::TestCamera camera(rig, &ok);
    ASSERT_TRUE(ok && camera.init());
    Message call = request("getCameraFacing", 1);
    call.set("note", Value::string("a b\\\n"));
    call.set("blob", Value::buffer({1, 2, 3}));
    call.set("small", Value::u8(7));
    call.set("mid", Value::u16(600));
    ASSERT_TRUE(camera.call(call));
    // The reply to __deleteThis comes over the control socket this time.
    ASSERT_EQ(camera.driver.sendData(camera.id, test::packetOf(request("__deleteThis"))), 0);
    ASSERT_TRUE(camera.control.sendRaw(test::controlRecord(3, camera.id, 19)));
    ASSERT_TRUE(camera.control.receive(19));
    ASSERT_TRUE(camera.close());

    const std::string c = "client=" + std::to_string(camera.id);
    const std::string size = std::to_string(test::packetOf(call).size());
    const std::string reply4 = "hgcm call " + c + " function=10 label=sendData:4:40 size=8";
    const std::string reply15 = "hgcm call " + c + " function=10 label=sendData:15:40 size=19";
    const std::vector<std::string> expected = {
        "hgcm connect " + c,
        "control open " + c + " port=10072",
        "hgcm call " + c + " function=9 label=sendData:57 size=57",
        "request " + c + " __function=__initThis __remote_class=CameraDevice",
        reply4,
        reply15,
        "hgcm call " + c + " function=9 label=sendData:" + size + " size=" + size,
        "request " + c +
            " __function=getCameraFacing blob=<3 bytes> ix=1 mid=600 note=a\\x20b\\x5C\\x0A "
            "small=7",
        reply4,
        reply15,
        "hgcm call " + c + " function=9 label=sendData:30 size=30",
        "request " + c + " __function=__deleteThis",
        "control read " + c + " count=19",
        "control close " + c,
        "hgcm call " + c + " function=8 name=vemo_shm_99",
        "hgcm disconnect " + c,
    };
    EXPECT_EQ(rig.recordLines(), expected);
}

TEST(HostRecord, CameraPortRequestsAreRecordedByConnection) {
    test::HostLogCapture log;
    test::HostRig rig;
    ASSERT_TRUE(rig.started);
    test::TestClient client;
    ASSERT_TRUE(client.connect(rig.camera.port()));
    ASSERT_TRUE(client.call(test::initRequest()));
    ASSERT_TRUE(client.sendRaw(test::packetOf(test::bytesOf({"__function\0\x05x\0\0", 15}))));
    EXPECT_TRUE(client.waitForClose());

    const std::vector<std::string> lines = rig.recordLines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string conn = lines[0].substr(0, lines[0].find(' ', 8));
    EXPECT_EQ(conn.substr(0, 13), "request conn=");
    EXPECT_EQ(lines[0], conn + " __function=__initThis __remote_class=CameraDevice");
    EXPECT_EQ(lines[1], conn + " malformed: bad type code 5 at offset 11");
}

}  // namespace
}  // namespace host
}  // namespace vemo
