// The platform stand-ins the module relies on: log lines, the property store, and the sorted
// vector behind every message.

#include <gtest/gtest.h>

#include <cutils/properties.h>
#include <log/log.h>
#include <media/stagefright/foundation/AString.h>
#include <utils/KeyedVector.h>

#include "support/LogCapture.h"

using android::AString;
using android::KeyedVector;
using vemo::test::LogCapture;

TEST(PlatformLog, OneLinePerMessageWithPriorityLetterAndTag) {
    LogCapture log;
    __android_log_print(ANDROID_LOG_ERROR, nullptr, "%s: failed: %s\n", "writeFully", "reset");
    __android_log_print(ANDROID_LOG_DEBUG, "Tag", "count %d", 2);
    __android_log_print(ANDROID_LOG_VERBOSE, "EmulatedCamera_JPEG", "v");
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"E/: writeFully: failed: reset", "D/Tag: count 2",
                                        "V/EmulatedCamera_JPEG: v"}));
}

TEST(PlatformLogDeathTest, AssertWritesAFatalLineAndAborts) {
    EXPECT_DEATH(__android_log_assert("x != 0", nullptr, "%s: broken", "here"), "F/: here: broken");
    EXPECT_DEATH(__android_log_assert("x != 0", nullptr, nullptr), "x != 0");
}

TEST(PlatformProperties, SetGetDefaultsAndLimits) {
    char value[PROPERTY_VALUE_MAX];
    EXPECT_EQ(property_get("test.absent", value, "dflt"), 4);
    EXPECT_STREQ(value, "dflt");
    EXPECT_EQ(property_get("test.absent", value, nullptr), 0);
    EXPECT_STREQ(value, "");

    EXPECT_EQ(property_set("test.key", "on"), 0);
    EXPECT_EQ(property_get("test.key", value, "dflt"), 2);
    EXPECT_STREQ(value, "on");
    // An empty value removes the property.
    EXPECT_EQ(property_set("test.key", ""), 0);
    EXPECT_EQ(property_get("test.key", value, "dflt"), 4);

    const std::string tooLong(PROPERTY_VALUE_MAX, 'x');
    EXPECT_EQ(property_set("test.key", tooLong.c_str()), -1);
    EXPECT_EQ(property_set(nullptr, "v"), -1);
}

TEST(PlatformKeyedVector, KeysSortByteWiseAndLookupsBisect) {
    KeyedVector<AString, int> v;
    const char* keys[] = {"id", "exposurevalue", "__function", "Zoom", "_", "a"};
    for (int i = 0; i < 6; ++i) {
        v.add(AString(keys[i]), i);
    }
    v.add(AString("id"), 42);
    ASSERT_EQ(v.size(), 6u);
    const char* sorted[] = {"Zoom", "_", "__function", "a", "exposurevalue", "id"};
    for (size_t i = 0; i < v.size(); ++i) {
        EXPECT_STREQ(v.keyAt(i).c_str(), sorted[i]);
        EXPECT_EQ(v.indexOfKey(AString(sorted[i])), static_cast<ssize_t>(i));
    }
    EXPECT_EQ(v.valueFor(AString("id")), 42);
    EXPECT_LT(v.indexOfKey(AString("missing")), 0);
    EXPECT_LT(v.indexOfKey(AString("")), 0);
}
