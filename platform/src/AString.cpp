#include <media/stagefright/foundation/AString.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace android {

AString::AString() = default;

AString::AString(const char* s) : mData(s != nullptr ? s : "") {}

AString::AString(const char* s, size_t size) : mData(s != nullptr ? std::string(s, size) : "") {}

AString::AString(const AString& from) = default;

AString::AString(const AString& from, size_t offset, size_t n) {
    setTo(from, offset, n);
}

AString& AString::operator=(const AString& from) = default;

AString::~AString() = default;

void AString::clear() {
    mData.clear();
}

void AString::setTo(const char* s) {
    mData = s != nullptr ? s : "";
}

void AString::setTo(const char* s, size_t size) {
    mData = s != nullptr ? std::string(s, size) : std::string();
}

void AString::setTo(const AString& from, size_t offset, size_t n) {
    mData = offset < from.mData.size() ? from.mData.substr(offset, n) : std::string();
}

void AString::append(char c) {
    mData.push_back(c);
}

void AString::append(const char* s) {
    if (s != nullptr) {
        mData.append(s);
    }
}

void AString::append(const char* s, size_t size) {
    if (s != nullptr) {
        mData.append(s, size);
    }
}

void AString::append(const AString& from) {
    mData.append(from.mData);
}

void AString::append(int x) {
    mData.append(std::to_string(x));
}

void AString::append(unsigned x) {
    mData.append(std::to_string(x));
}

void AString::append(long x) {
    mData.append(std::to_string(x));
}

void AString::append(unsigned long x) {
    mData.append(std::to_string(x));
}

ssize_t AString::find(const char* substring, size_t start) const {
    if (substring == nullptr) {
        return -1;
    }
    const size_t pos = mData.find(substring, start);
    return pos == std::string::npos ? -1 : static_cast<ssize_t>(pos);
}

bool AString::startsWith(const char* prefix) const {
    return prefix != nullptr && mData.compare(0, strlen(prefix), prefix) == 0;
}

bool AString::endsWith(const char* suffix) const {
    if (suffix == nullptr) {
        return false;
    }
    const size_t n = strlen(suffix);
    return n <= mData.size() && mData.compare(mData.size() - n, n, suffix) == 0;
}

int AString::compare(const AString& other) const {
    return strcmp(c_str(), other.c_str());
}

AString AStringPrintf(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    const int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    AString result;
    if (n > 0) {
        std::string text(static_cast<size_t>(n) + 1, '\0');
        vsnprintf(&text[0], text.size(), format, ap);
        result.setTo(text.c_str(), static_cast<size_t>(n));
    }
    va_end(ap);
    return result;
}

}  // namespace android
