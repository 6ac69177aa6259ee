#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string_view>

#include "HostTestSupport.h"
#include "Message.h"
#include "PacketBuffer.h"

namespace vemo {
namespace host {
namespace {

using namespace std::string_view_literals;
using test::bytesOf;
using test::describe;
using test::hexBytes;

// Decodes from a heap block of exactly the input's size, so that AddressSanitizer reports any
// read past the end.
DecodeResult decodeExact(const std::vector<uint8_t>& bytes, Message* out) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
    if (!bytes.empty()) {
        std::memcpy(exact.get(), bytes.data(), bytes.size());
    }
    return out->decode(exact.get(), bytes.size());
}

Message allTypes() {
    Message m;
    m.set("f", Value::buffer({}));
    m.set("e", Value::buffer({1, 2, 3}));
    m.set("d", Value::u32(258));
    m.set("c", Value::u16(258));
    m.set("b", Value::u8(0xFE));
    m.set("a", Value::string(""));
    return m;
}

struct Golden {
    const char* name;
    Message message;
    std::vector<uint8_t> bytes;
};

std::vector<Golden> goldens() {
    Message keyOrder;
    keyOrder.set("id", Value::u32(7));
    keyOrder.set("exposurevalue", Value::u32(2));
    keyOrder.set("__function", Value::string("setExposureCompensation"));
    Message init = test::request("__initThis");
    init.set("__remote_class", Value::string("CameraDevice"));
    Message reply;
    reply.set("__return", Value::u32(1));
    return {
        {"empty", Message(), {0x00}},
        {"getNumCameras request", test::request("getNumCameras"),
         hexBytes(
             "5F 5F 66 75 6E 63 74 69 6F 6E 00 00 67 65 74 4E 75 6D 43 61 6D 65 72 61 73 00 00")},
        {"return 1 reply", reply, hexBytes("5F 5F 72 65 74 75 72 6E 00 03 01 00 00 00 00")},
        {"initThis request", init,
         bytesOf("__function\0\0__initThis\0__remote_class\0\0CameraDevice\0\0"sv)},
        {"deleteThis request", test::request("__deleteThis"),
         bytesOf("__function\0\0__deleteThis\0\0"sv)},
        {"keys in byte order", keyOrder,
         bytesOf("__function\0\0setExposureCompensation\0"
                 "exposurevalue\0\x03\x02\0\0\0"
                 "id\0\x03\x07\0\0\0\0"sv)},
        {"every type", allTypes(),
         bytesOf("a\0\0\0"
                 "b\0\x01\xFE"
                 "c\0\x02\x02\x01"
                 "d\0\x03\x02\x01\0\0"
                 "e\0\x04\x03\0\0\0\x01\x02\x03"
                 "f\0\x04\0\0\0\0"
                 "\0"sv)},
    };
}

TEST(HostMessage, GoldenVectorsEncodeAndDecodeBothWays) {
    for (const Golden& g : goldens()) {
        SCOPED_TRACE(g.name);
        EXPECT_EQ(g.message.encodedSize(), g.bytes.size());
        EXPECT_EQ(g.message.encode(), g.bytes);
        Message decoded;
        ASSERT_TRUE(decodeExact(g.bytes, &decoded).ok());
        EXPECT_EQ(describe(decoded), describe(g.message));
    }
    EXPECT_EQ(goldens()[1].bytes.size(), 27u);
    EXPECT_EQ(goldens()[3].bytes.size(), 53u);
    EXPECT_EQ(goldens()[4].bytes.size(), 26u);
}

TEST(HostMessage, KeysSortAsUnsignedBytes) {
    Message m;
    m.set("\xC3\xA9t\xC3\xA9", Value::u8(1));
    m.set("z", Value::u8(2));
    m.set("Z", Value::u8(3));
    const std::vector<uint8_t> expected =
        bytesOf("Z\0\x01\x03z\0\x01\x02\xC3\xA9t\xC3\xA9\0\x01\x01\0"sv);
    EXPECT_EQ(m.encode(), expected);
    Message decoded;
    EXPECT_TRUE(decodeExact(expected, &decoded).ok());
}

TEST(HostMessage, SetReplacesAndRefusesKeysThatCannotTravel) {
    Message m;
    EXPECT_TRUE(m.set("id", Value::u32(1)));
    EXPECT_TRUE(m.set("id", Value::string("two")));
    EXPECT_FALSE(m.set("", Value::u32(3)));
    EXPECT_FALSE(m.set("a\0b"sv, Value::u32(4)));
    EXPECT_EQ(describe(m), "id=str:\"two\"");
    EXPECT_EQ(m.u32("id"), std::nullopt);
    ASSERT_NE(m.text("id"), nullptr);
    EXPECT_EQ(m.text("absent"), nullptr);

    // The wire carries text up to its first 0 byte; encoding more would misalign the entries.
    Message cut;
    cut.set("s", Value::string("ab\0cd"sv));
    EXPECT_EQ(cut.encode(), bytesOf("s\0\0ab\0\0"sv));
}

TEST(HostMessage, BorrowedBufferEncodesInPlaceIntoThePacket) {
    std::vector<uint8_t> frame(8u << 20);
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(i * 7);
    }
    Message reply;
    reply.set("frame", Value::borrowedBuffer(frame.data(), static_cast<uint32_t>(frame.size())));
    reply.set("ts_low", Value::u32(5));

    PacketBuffer packet;
    const size_t size = reply.encodedSize();
    ASSERT_EQ(reply.encode(packet.preparePayload(size)), size);
    ASSERT_EQ(packet.packetSize(), size + 4);
    EXPECT_EQ(std::vector<uint8_t>(packet.packet(), packet.packet() + 4),
              hexBytes("18 00 80 00"));  // 8 MiB and 24 bytes
    Message decoded;
    ASSERT_TRUE(decoded.decode(packet.payload(), packet.payloadSize()).ok());
    const Value* decodedFrame = decoded.find("frame");
    ASSERT_NE(decodedFrame, nullptr);
    ASSERT_EQ(decodedFrame->bufferSize(), frame.size());
    EXPECT_EQ(std::memcmp(decodedFrame->bufferData(), frame.data(), frame.size()), 0);

    // The storage is reused; a smaller packet gets its own length.
    packet.preparePayload(1)[0] = 0;
    EXPECT_EQ(std::vector<uint8_t>(packet.packet(), packet.packet() + 5),
              hexBytes("01 00 00 00 00"));
}

struct Hostile {
    const char* name;
    std::vector<uint8_t> bytes;
    DecodeError error;
    size_t offset;
    uint32_t detail;
};

TEST(HostMessage, HostileInputsFailExactly) {
    const Hostile cases[] = {
        {"nothing at all", {}, DecodeError::kNoEndByte, 0, 0},
        {"type code 5", bytesOf("a\0\x05\0"sv), DecodeError::kBadTypeCode, 2, 5},
        {"type code 255 after a good entry",
         bytesOf("a\0\x01\x01"
                 "b\0\xFF\0"sv),
         DecodeError::kBadTypeCode, 6, 255},
        {"key without its 0 byte", bytesOf("__func"sv), DecodeError::kEntryCutShort, 0, 0},
        {"no type byte", bytesOf("a\0"sv), DecodeError::kEntryCutShort, 0, 0},
        {"string without its 0 byte",
         bytesOf("a\0\x01\x01"
                 "b\0\0xyz"sv),
         DecodeError::kEntryCutShort, 4, 0},
        {"u16 cut short", bytesOf("a\0\x02\x01"sv), DecodeError::kEntryCutShort, 0, 0},
        {"u32 cut short", bytesOf("a\0\x03\x01\0\0"sv), DecodeError::kEntryCutShort, 0, 0},
        {"buffer size cut short", bytesOf("a\0\x04\x01\0"sv), DecodeError::kEntryCutShort, 0, 0},
        {"buffer beyond packet", bytesOf("a\0\x04\x10\0\0\0xyz\0"sv),
         DecodeError::kBufferBeyondPacket, 3, 16},
        {"buffer size near 4 GiB", bytesOf("a\0\x04\xFF\xFF\xFF\xFFxyz\0"sv),
         DecodeError::kBufferBeyondPacket, 3, 0xFFFFFFFF},
        {"no end byte", bytesOf("a\0\x01\x07"sv), DecodeError::kNoEndByte, 4, 0},
        {"bytes after end", bytesOf("a\0\x01\x07\0\0\0"sv), DecodeError::kBytesAfterEnd, 5, 2},
        {"repeated key",
         bytesOf("a\0\x01\x01"
                 "a\0\x01\x02\0"sv),
         DecodeError::kKeyOutOfOrder, 4, 0},
        {"falling keys",
         bytesOf("b\0\x01\x01"
                 "a\0\x01\x02\0"sv),
         DecodeError::kKeyOutOfOrder, 4, 0},
    };
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.name);
        Message m;
        const DecodeResult result = decodeExact(c.bytes, &m);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.offset, c.offset);
        EXPECT_EQ(result.detail, c.detail);
    }
}

std::vector<std::vector<uint8_t>> fuzzSeeds() {
    Message frame;
    frame.set("frame", Value::buffer({9, 8, 7, 6, 5}));
    frame.set("ts_high", Value::u16(3));
    frame.set("ts_low", Value::u32(0x01020304));
    return {goldens()[3].bytes, allTypes().encode(), frame.encode()};
}

TEST(HostMessage, EveryBitFlipDecodesWithinBoundsAndCanonically) {
    size_t accepted = 0;
    size_t rejected = 0;
    for (const std::vector<uint8_t>& seed : fuzzSeeds()) {
        for (size_t bit = 0; bit < seed.size() * 8; ++bit) {
            std::vector<uint8_t> flipped = seed;
            flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            Message m;
            if (decodeExact(flipped, &m).ok()) {
                // What decodes must be exactly what the encoder writes for it.
                EXPECT_EQ(m.encode(), flipped) << "bit " << bit;
                ++accepted;
            } else {
                ++rejected;
            }
        }
    }
    EXPECT_GT(accepted, 0u);
    EXPECT_GT(rejected, 0u);
}

TEST(HostMessage, EveryTruncationIsRejected) {
    for (const std::vector<uint8_t>& seed : fuzzSeeds()) {
        for (size_t length = 0; length < seed.size(); ++length) {
            Message m;
            const DecodeResult result =
                decodeExact(std::vector<uint8_t>(seed.begin(), seed.begin() + length), &m);
            EXPECT_FALSE(result.ok()) << "length " << length;
            EXPECT_NE(result.error, DecodeError::kBadTypeCode) << "length " << length;
        }
    }
}

}  // namespace
}  // namespace host
}  // namespace vemo
