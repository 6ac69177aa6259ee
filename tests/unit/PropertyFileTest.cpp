// The property store fills itself from the file named by VEMO_PROPERTY_FILE (set for this
// program by the test runner).

#include <gtest/gtest.h>

#include <cutils/properties.h>

namespace {
std::string get(const char* key) {
    char value[PROPERTY_VALUE_MAX];
    property_get(key, value, "<absent>");
    return value;
}
}  // namespace

TEST(PropertyFile, KeyValueLinesAreLoadedAndTheRestSkipped) {
    EXPECT_EQ(get("ro.tolvd.ip"), "127.0.0.1");
    EXPECT_EQ(get("com.vemo.power.status"), "1");
    EXPECT_EQ(get("ro.empty"), "<absent>");
    EXPECT_EQ(get("#ro.commented"), "<absent>");
    EXPECT_EQ(get("ro.commented"), "<absent>");
    EXPECT_EQ(get("line without an equals sign"), "<absent>");
}
