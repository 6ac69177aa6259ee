// The message container: its byte form both ways, its queries, and hostile input.

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "RemoteParameters.h"
#include "support/LogCapture.h"

using android::AString;
using android::CRemoteParameters;
using Bytes = std::vector<unsigned char>;

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

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
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

TEST(RemoteParameters, WorkedExamplesFlattenToTheirBytes) {
    CRemoteParameters request;
    request.addParam("__function", "getNumCameras");
    EXPECT_EQ(flattenOf(request), kGetNumCameras);

    CRemoteParameters reply;
    reply.addParam("__return", 1ul);
    EXPECT_EQ(flattenOf(reply), kReturnOne);

    CRemoteParameters init;
    init.addParam("__remote_class", "CameraDevice");
    init.addParam("__function", "__initThis");
    const Bytes initBytes = concat({text("__function"),
                                    {0},
                                    text("__initThis"),
                                    text("__remote_class"),
                                    {0},
                                    text("CameraDevice"),
                                    {0}});
    ASSERT_EQ(initBytes.size(), 53u);
    EXPECT_EQ(flattenOf(init), initBytes);

    CRemoteParameters destroy;
    destroy.addParam("__function", "__deleteThis");
    const Bytes destroyBytes = concat({text("__function"), {0}, text("__deleteThis"), {0}});
    ASSERT_EQ(destroyBytes.size(), 26u);
    EXPECT_EQ(flattenOf(destroy), destroyBytes);
}

TEST(RemoteParameters, WorkedExamplesDecodeToTheirValues) {
    CRemoteParameters request;
    EXPECT_EQ(unflattenExact(&request, kGetNumCameras), 26);
    EXPECT_STREQ(request.getStrParam("__function").c_str(), "getNumCameras");

    CRemoteParameters reply;
    EXPECT_EQ(unflattenExact(&reply, kReturnOne), 14);
    EXPECT_EQ(reply.getU32Param("__return"), 1u);
}

TEST(RemoteParameters, EntriesAreWrittenInByteOrderOfTheirKeys) {
    CRemoteParameters message;
    message.addParam("id", 7ul);
    message.addParam("exposurevalue", 2ul);
    message.addParam("__function", "setExposureCompensation");
    message.addParam("Zoom", static_cast<unsigned char>(1));
    const Bytes bytes = flattenOf(message);
    // Capitals sort before the underscore, which sorts before small letters.
    const char* expected[] = {"Zoom", "__function", "exposurevalue", "id"};
    size_t p = 0;
    for (const char* key : expected) {
        ASSERT_LT(p, bytes.size());
        EXPECT_STREQ(reinterpret_cast<const char*>(&bytes[p]), key);
        p += strlen(key) + 1;
        const unsigned char type = bytes[p++];
        p += type == 0 ? strlen(reinterpret_cast<const char*>(&bytes[p])) + 1 : type == 1 ? 1 : 4;
    }
    EXPECT_EQ(p + 1, bytes.size());
    EXPECT_EQ(bytes.back(), 0);
}

TEST(RemoteParameters, ValueEncodingsAreLittleEndianAndUnaligned) {
    CRemoteParameters message;
    message.addParam("a", static_cast<unsigned short>(258));
    message.addParam("bb", 258ul);
    message.addParam("c", "");
    message.addParam("d", nullptr, 0ul);
    const Bytes expected = concat({text("a"),
                                   {2, 0x02, 0x01},
                                   text("bb"),
                                   {3, 0x02, 0x01, 0, 0},
                                   text("c"),
                                   {0, 0},
                                   text("d"),
                                   {4, 0, 0, 0, 0},
                                   {0}});
    EXPECT_EQ(flattenOf(message), expected);

    CRemoteParameters decoded;
    EXPECT_EQ(unflattenExact(&decoded, expected), static_cast<int>(expected.size()) - 1);
    EXPECT_EQ(decoded.getU16Param("a"), 258);
    EXPECT_EQ(decoded.getU32Param("bb"), 258u);
    EXPECT_STREQ(decoded.getStrParam("c").c_str(), "");
    unsigned char* data = reinterpret_cast<unsigned char*>(&decoded);
    EXPECT_EQ(decoded.getBufParam("d", &data), 0u);
    EXPECT_EQ(data, nullptr);
}

TEST(RemoteParameters, EmptyContainerIsOneEndByte) {
    CRemoteParameters empty;
    EXPECT_EQ(empty.getFlattenedSize(), 1);
    EXPECT_EQ(flattenOf(empty), Bytes{0});

    CRemoteParameters decoded;
    EXPECT_EQ(unflattenExact(&decoded, Bytes{0, 'x', 'y'}), 0);
    EXPECT_EQ(decoded.getFlattenedSize(), 1);
}

TEST(RemoteParameters, SameKeyTwiceKeepsOneEntryWithTheLaterValue) {
    CRemoteParameters message;
    message.addParam("ix", 1ul);
    message.addParam("ix", "two");
    EXPECT_EQ(message.getFlattenedSize(), 1 + 2 + 2 + 4);
    EXPECT_STREQ(message.getStrParam("ix").c_str(), "two");
}

TEST(RemoteParameters, EmptyKeyIsRefused) {
    vemo::test::LogCapture log;
    CRemoteParameters message;
    message.addParam("", 5ul);
    EXPECT_EQ(message.getFlattenedSize(), 1);
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

TEST(RemoteParameters, DecodedMessageRoundTripsToTheSameBytes) {
    CRemoteParameters message;
    const unsigned char payload[] = {0, 0xFF, 0, 7};
    message.addParam("__function", "getFrameContents");
    message.addParam("frame", payload, sizeof(payload));
    message.addParam("ts_high", 1ul);
    message.addParam("ts_low", 0xFFFFFFFFul);
    message.addParam("u8", static_cast<unsigned char>(200));
    const Bytes bytes = flattenOf(message);

    CRemoteParameters decoded;
    EXPECT_EQ(unflattenExact(&decoded, bytes), static_cast<int>(bytes.size()) - 1);
    EXPECT_EQ(flattenOf(decoded), bytes);
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
