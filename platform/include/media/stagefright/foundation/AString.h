#pragma once

#include <stddef.h>
#include <sys/types.h>

#include <string>

namespace android {

// The media framework's string: a NUL-terminated byte string that compares byte-wise.
class AString {
public:
    AString();
    AString(
        const char* s);  // NOLINT(google-explicit-constructor): the platform converts implicitly
    AString(const char* s, size_t size);
    AString(const AString& from);
    AString(const AString& from, size_t offset, size_t n);
    AString& operator=(const AString& from);
    ~AString();

    size_t size() const { return mData.size(); }
    bool empty() const { return mData.empty(); }
    const char* c_str() const { return mData.c_str(); }

    void clear();
    void setTo(const char* s);
    void setTo(const char* s, size_t size);
    void setTo(const AString& from, size_t offset, size_t n);

    void append(char c);
    void append(const char* s);
    void append(const char* s, size_t size);
    void append(const AString& from);
    void append(int x);
    void append(unsigned x);
    void append(long x);
    void append(unsigned long x);

    // Index of the first occurrence of substring at or after start, or -1.
    ssize_t find(const char* substring, size_t start = 0) const;
    bool startsWith(const char* prefix) const;
    bool endsWith(const char* suffix) const;

    // strcmp order of the two texts.
    int compare(const AString& other) const;
    bool operator==(const AString& other) const { return mData == other.mData; }
    bool operator!=(const AString& other) const { return !(*this == other); }
    bool operator<(const AString& other) const { return compare(other) < 0; }
    bool operator>(const AString& other) const { return compare(other) > 0; }

private:
    std::string mData;
};

// Text built like sprintf.
AString AStringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace android
