// The message container: its byte form both ways, its queries, and hostile input.

#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <vector>

#include "RemoteParameters.h"
#include "support/LittleEndian.h"
#include "support/LogCapture.h"

using android::AString;
using android::CRemoteParameters;
using Bytes = std::vector<unsigned char>;
using vemo::test::concat;

namespace {

Bytes flattenOf(CRemoteParameters& message) {
    Bytes out(static_cast<size_t>(message.getFlattenedSize()), 0xEE);
    const int n = message.flatten(out.data());
    EXPECT_EQ(static_cast<size_t>(n), out.size());
    return out;
}

Bytes text(const char* s) {
    return Bytes(s, s + strlen(s) + 1);
}

// Decodes bytes held in an array of exactly their size, so that a read past the end is caught
// by the address sanitizer.
int unflattenExact(CRemoteParameters* message, const Bytes& bytes) {
    std::unique_ptr<unsigned char[]> copy(
        new unsigned char[bytes.size() + (bytes.empty() ? 1 : 0)]);
    if (!bytes.empty()) {
        memcpy(copy.get(), bytes.data(), bytes.size());
    }
    return message->unflatten(copy.get(), bytes.size());
}

const Bytes kGetNumCameras = {0x5F, 0x5F, 0x66, 0x75, 0x6E, 0x63, 0x74, 0x69, 0x6F,
                              0x6E, 0x00, 0x00, 0x67, 0x65, 0x74, 0x4E, 0x75, 0x6D,
                              0x43, 0x61, 0x6D, 0x65, 0x72, 0x61, 0x73, 0x00, 0x00};
const Bytes kReturnOne = {0x5F, 0x5F, 0x72, 0x65, 0x74, 0x75, 0x72, 0x6E,
                          0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00};

}  // namespace

struct Golden {
    const char* name;
    std::function<void(CRemoteParameters*)> fill;
    Bytes bytes;
};

// The worked examples, keys in byte order (capitals before the underscore before small
// letters), and each value type, little-endian and unaligned.
const Golden kGoldens[] = {
    {"getNumCameras request",
     [](CRemoteParameters* m) { m->addParam("__function", "getNumCameras"); }, kGetNumCameras},
    {"return 1 reply", [](CRemoteParameters* m) { m->addParam("__return", 1ul); }, kReturnOne},
    {"initThis request",
     [](CRemoteParameters* m) {
         m->addParam("__remote_class", "CameraDevice");
         m->addParam("__function", "__initThis");
     },
     concat({text("__function"),
             {0},
             text("__initThis"),
             text("__remote_class"),
             {0},
             text("CameraDevice"),
             {0}})},
    {"deleteThis request", [](CRemoteParameters* m) { m->addParam("__function", "__deleteThis"); },
     concat({text("__function"), {0}, text("__deleteThis"), {0}})},
    {"keys in byte order",
     [](CRemoteParameters* m) {
         m->addParam("id", 7ul);
         m->addParam("__function", "f");
         m->addParam("Zoom", static_cast<unsigned char>(1));
     },
     concat({text("Zoom"),
             {1, 1},
             text("__function"),
             {0},
             text("f"),
             text("id"),
             {3, 7, 0, 0, 0},
             {0}})},
    {"every type",
     [](CRemoteParameters* m) {
         const unsigned char frame[] = {0, 0xFF, 7};
         m->addParam("a", static_cast<unsigned short>(258));
         m->addParam("bb", 258ul);
         m->addParam("c", "");
         m->addParam("d", nullptr, 0ul);
         m->addParam("e", frame, sizeof(frame));
     },
     concat({text("a"),
             {2, 0x02, 0x01},
             text("bb"),
             {3, 0x02, 0x01, 0, 0},
             text("c"),
             {0, 0},
             text("d"),
             {4, 0, 0, 0, 0},
             text("e"),
             {4, 3, 0, 0, 0, 0, 0xFF, 7},
             {0}})},
    {"empty container", [](CRemoteParameters*) {}, {0}},
};

TEST(RemoteParameters, GoldenBytesFlattenAndDecodeBothWays) {
    for (const Golden& golden : kGoldens) {
        SCOPED_TRACE(golden.name);
        CRemoteParameters message;
        golden.fill(&message);
        EXPECT_EQ(flattenOf(message), golden.bytes);
        CRemoteParameters decoded;
        EXPECT_EQ(unflattenExact(&decoded, golden.bytes),
                  static_cast<int>(golden.bytes.size()) - 1);
        EXPECT_EQ(flattenOf(decoded), golden.bytes);
    }
    EXPECT_EQ(kGoldens[2].bytes.size(), 53u);
    EXPECT_EQ(kGoldens[3].bytes.size(), 26u);

    // Decoded values read back by their type; an empty buffer hands out nothing.
    CRemoteParameters decoded;
    unflattenExact(&decoded, kGoldens[5].bytes);
    EXPECT_EQ(decoded.getU16Param("a"), 258);
    EXPECT_EQ(decoded.getU32Param("bb"), 258u);
    unsigned char* data = reinterpret_cast<unsigned char*>(&decoded);
    EXPECT_EQ(decoded.getBufParam("d", &data), 0u);
    EXPECT_EQ(data, nullptr);
    // Bytes after the end byte are not the message's.
    EXPECT_EQ(unflattenExact(&decoded, Bytes{0, 'x', 'y'}), 0);
}

TEST(RemoteParameters, SameKeyTwiceKeepsTheLaterValueAndAnEmptyKeyIsRefused) {
    vemo::test::LogCapture log;
    CRemoteParameters message;
    message.addParam("ix", 1ul);
    message.addParam("ix", "two");
    message.addParam("", 5ul);
    EXPECT_EQ(message.getFlattenedSize(), 1 + 2 + 2 + 4);
    EXPECT_STREQ(message.getStrParam("ix").c_str(), "two");
}

TEST(RemoteParameters, MismatchedOrAbsentQueriesGiveZeroAndLog) {
    CRemoteParameters message;
    message.addParam("name", "text");
    vemo::test::LogCapture log;

    EXPECT_EQ(message.getU32Param("name"), 0u);
    EXPECT_TRUE(log.contains("getU32Param: Invalid query for param name"));
    EXPECT_EQ(message.getU8Param("name"), 0);
    EXPECT_EQ(message.getU16Param("name"), 0);
    unsigned char sentinel = 0;
    unsigned char* data = &sentinel;
    EXPECT_EQ(message.getBufParam("name", &data), 0u);
    EXPECT_EQ(data, &sentinel);
    EXPECT_TRUE(log.contains("getBufParam: Invalid query for param name"));

    EXPECT_STREQ(message.getStrParam("missing").c_str(), "");
    EXPECT_EQ(message.getU32Param("missing"), 0u);
    EXPECT_EQ(message.getBufParam("missing", &data), 0u);
    EXPECT_EQ(data, &sentinel);
}

TEST(RemoteParameters, BufferBytesBelongToTheirReaderAndOutliveTheMessage) {
    const unsigned char frame[] = {1, 2, 3, 4, 5};
    unsigned char* first = nullptr;
    unsigned char* second = nullptr;
    {
        CRemoteParameters message;
        message.addParam("frame", frame, sizeof(frame));
        EXPECT_EQ(message.getBufParam("frame", &first), sizeof(frame));
        EXPECT_EQ(message.getBufParam("frame", &second), sizeof(frame));
    }
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(memcmp(first, frame, sizeof(frame)), 0);
    delete[] first;

    // Bytes nobody took are released with the message (the leak checker watches this).
    CRemoteParameters untouched;
    untouched.addParam("frame", frame, sizeof(frame));
    untouched.addParam("frame", frame, 2ul);
}

TEST(RemoteParameters, BadTypeCodeStopsDecodingAndKeepsEarlierEntries) {
    const Bytes bytes =
        concat({text("a"), {3, 9, 0, 0, 0}, text("b"), {5, 1}, text("c"), {1, 1}, {0}});
    vemo::test::LogCapture log;
    CRemoteParameters decoded;
    EXPECT_EQ(unflattenExact(&decoded, bytes), -1);
    EXPECT_TRUE(log.contains("unflatten: Invalid parameter type found 5"));
    EXPECT_EQ(decoded.getU32Param("a"), 9u);
    EXPECT_EQ(decoded.getU8Param("c"), 0);
}

TEST(RemoteParameters, TruncatedMessagesFailWithoutReadingPastTheirEnd) {
    const Bytes whole = concat({text("a"),
                                {3, 1, 2, 3, 4},
                                text("name"),
                                {0},
                                text("value"),
                                text("buf"),
                                {4, 3, 0, 0, 0, 7, 8, 9},
                                {0}});
    vemo::test::LogCapture log;
    // Every prefix, including one that stops right before the end byte.
    for (size_t n = 0; n < whole.size(); ++n) {
        CRemoteParameters decoded;
        EXPECT_EQ(unflattenExact(&decoded, Bytes(whole.begin(), whole.begin() + n)), -1)
            << "prefix of " << n << " bytes";
    }
    CRemoteParameters decoded;
    EXPECT_EQ(unflattenExact(&decoded, whole), static_cast<int>(whole.size()) - 1);

    // A buffer longer than the bytes given, though they end in an end byte: bytes past the
    // given length that would complete it must not be read.
    const Bytes given = concat({text("buf"), {4, 5, 0, 0, 0}, {7, 0}});
    const Bytes beyond = concat({given, {9, 9, 9, 0}});
    CRemoteParameters overrun;
    std::vector<unsigned char> copy(beyond.begin(), beyond.end());
    EXPECT_EQ(overrun.unflatten(copy.data(), given.size()), -1);
    EXPECT_FALSE(overrun.hasParam("buf", android::PARAM_TYPE_BUF));
}

TEST(RemoteParameters, HugeBufferLengthIsRefusedBeforeAllocating) {
    const Bytes bytes = concat({text("frame"), {4, 0xFF, 0xFF, 0xFF, 0x7F}, {1, 2, 3}, {0}});
    vemo::test::LogCapture log;
    CRemoteParameters decoded;
    EXPECT_EQ(unflattenExact(&decoded, bytes), -1);
    unsigned char* data = nullptr;
    EXPECT_EQ(decoded.getBufParam("frame", &data), 0u);
}

// Every single-bit corruption of valid messages decodes to a result within the message, or -1,
// and never reads outside the bytes given.
TEST(RemoteParameters, BitFlippedMessagesNeverReadOutOfBounds) {
    std::vector<Bytes> samples = {kGetNumCameras, kReturnOne};
    CRemoteParameters mixed;
    const unsigned char frame[] = {9, 8, 7, 6, 5, 4, 3, 2};
    mixed.addParam("frame", frame, sizeof(frame));
    mixed.addParam("format", "yuv420sp");
    mixed.addParam("u16", static_cast<unsigned short>(0xBEEF));
    mixed.addParam("u8", static_cast<unsigned char>(3));
    samples.push_back(flattenOf(mixed));

    vemo::test::LogCapture log;
    for (const Bytes& sample : samples) {
        for (size_t bit = 0; bit < sample.size() * 8; ++bit) {
            Bytes flipped = sample;
            flipped[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            CRemoteParameters decoded;
            const int result = unflattenExact(&decoded, flipped);
            EXPECT_GE(result, -1);
            EXPECT_LT(result, static_cast<int>(flipped.size()));
            unsigned char* data = nullptr;
            if (decoded.getBufParam("frame", &data) != 0) {
                delete[] data;
            }
        }
    }
}
