#include "Param.h"

#include <string.h>

#include <new>

#include <log/log.h>

namespace android {

ParamString::ParamString(const char* value) : _value(value) {}

ParamString::~ParamString() {}

int ParamString::getFlattenedSize() {
    return static_cast<int>(_value.size()) + 1;
}

int ParamString::flatten(unsigned char* dst) {
    const size_t n = strlen(_value.c_str()) + 1;
    memcpy(dst, _value.c_str(), n);
    return static_cast<int>(n);
}

int ParamString::unflatten(const unsigned char* src, size_t size) {
    const void* end = memchr(src, 0, size);
    if (end == nullptr) {
        return -1;
    }
    const size_t length = static_cast<size_t>(static_cast<const unsigned char*>(end) - src);
    _value.setTo(reinterpret_cast<const char*>(src), length);
    return static_cast<int>(length + 1);
}

int ParamU8::flatten(unsigned char* dst) {
    dst[0] = _value;
    return 1;
}

int ParamU8::unflatten(const unsigned char* src, size_t size) {
    if (size < 1) {
        return -1;
    }
    _value = src[0];
    return 1;
}

int ParamU16::flatten(unsigned char* dst) {
    storeU16(dst, _value);
    return 2;
}

int ParamU16::unflatten(const unsigned char* src, size_t size) {
    if (size < 2) {
        return -1;
    }
    _value = loadU16(src);
    return 2;
}

int ParamU32::flatten(unsigned char* dst) {
    storeU32(dst, _value);
    return 4;
}

int ParamU32::unflatten(const unsigned char* src, size_t size) {
    if (size < 4) {
        return -1;
    }
    _value = loadU32(src);
    return 4;
}

ParamBuf::ParamBuf() : _data(nullptr), _size(0), _handed_out(false) {}

ParamBuf::ParamBuf(const unsigned char* data, unsigned long size)
    : _data(nullptr), _size(0), _handed_out(false) {
    if (size == 0 || data == nullptr) {
        return;
    }
    _data = new (std::nothrow) unsigned char[size];
    if (_data == nullptr) {
        ALOGE("%s: Unable to allocate %lu bytes", "ParamBuf", size);
        return;
    }
    memcpy(_data, data, size);
    _size = static_cast<uint32_t>(size);
}

ParamBuf::~ParamBuf() {
    release();
}

void ParamBuf::release() {
    if (!_handed_out) {
        delete[] _data;
    }
    _data = nullptr;
    _size = 0;
    _handed_out = false;
}

int ParamBuf::getFlattenedSize() {
    return static_cast<int>(_size) + 4;
}

int ParamBuf::flatten(unsigned char* dst) {
    storeU32(dst, _size);
    if (_size != 0) {
        memcpy(dst + 4, _data, _size);
    }
    return static_cast<int>(_size) + 4;
}

int ParamBuf::unflatten(const unsigned char* src, size_t size) {
    release();
    if (size < 4) {
        return -1;
    }
    const uint32_t n = loadU32(src);
    if (n > size - 4 || n > static_cast<uint32_t>(INT32_MAX - 4)) {
        return -1;
    }
    if (n != 0) {
        _data = new (std::nothrow) unsigned char[n];
        if (_data == nullptr) {
            ALOGE("%s: Unable to allocate %u bytes", "ParamBuf", n);
            return -1;
        }
        memcpy(_data, src + 4, n);
        _size = n;
    }
    return static_cast<int>(n) + 4;
}

unsigned long ParamBuf::take(unsigned char** data) {
    *data = _data;
    _handed_out = true;
    return _size;
}

}  // namespace android
