// The in-memory output stream.

#include <SkStream.h>

#include <string.h>

#include <new>
#include <stdexcept>

bool SkDynamicMemoryWStream::write(const void* buffer, size_t size) {
    if (size == 0) {
        return true;
    }
    if (buffer == nullptr) {
        return false;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    try {
        fBytes.insert(fBytes.end(), bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

void SkDynamicMemoryWStream::copyTo(void* dst) const {
    if (!fBytes.empty()) {
        memcpy(dst, fBytes.data(), fBytes.size());
    }
}
