#pragma once

#include <stddef.h>

#include <string>

namespace android {

// The platform's 8-bit string.
class String8 {
public:
    String8() = default;
    String8(const char* s)
        : mData(s != nullptr ? s : "") {}  // NOLINT: converts like the platform's
    String8(const char* s, size_t size) : mData(s != nullptr ? std::string(s, size) : "") {}

    const char* string() const { return mData.c_str(); }
    const char* c_str() const { return mData.c_str(); }
    size_t length() const { return mData.size(); }
    size_t size() const { return mData.size(); }
    bool isEmpty() const { return mData.empty(); }

    void setTo(const char* s) { mData = s != nullptr ? s : ""; }
    String8& append(const char* s) {
        mData.append(s != nullptr ? s : "");
        return *this;
    }
    String8& operator+=(const String8& other) {
        mData += other.mData;
        return *this;
    }
    String8& operator+=(const char* s) { return append(s); }

    bool operator==(const String8& other) const { return mData == other.mData; }
    bool operator!=(const String8& other) const { return mData != other.mData; }
    bool operator<(const String8& other) const { return mData < other.mData; }

private:
    std::string mData;
};

}  // namespace android
