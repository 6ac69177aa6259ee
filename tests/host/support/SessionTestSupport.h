#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Message.h"
#include "Session.h"

namespace vemo {
namespace host {
namespace test {

// One request through the session as the camera service hands it over; the reply must be a
// well-formed packet whose length word counts its payload.
inline Message callSession(Session& session, const Message& request) {
    const std::vector<uint8_t> bytes = request.encode();
    PacketBuffer packet;
    std::string fault;
    EXPECT_TRUE(session.handle(bytes.data(), bytes.size(), &packet, &fault)) << fault;
    const uint8_t* p = packet.packet();
    EXPECT_EQ(p[0] | (p[1] << 8) | (p[2] << 16) | (p[3] << 24), packet.payloadSize());
    Message reply;
    EXPECT_TRUE(reply.decode(packet.payload(), packet.payloadSize()).ok());
    return reply;
}

}  // namespace test
}  // namespace host
}  // namespace vemo
