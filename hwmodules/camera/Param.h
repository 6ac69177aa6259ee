#pragma once

#include <stddef.h>
#include <stdint.h>

#include <media/stagefright/foundation/AString.h>

#include "ByteOrder.h"

namespace android {

// Type codes of the values of a remote-call message, as they travel on the wire.
enum ParamType {
    PARAM_TYPE_STRING = 0,
    PARAM_TYPE_U8 = 1,
    PARAM_TYPE_U16 = 2,
    PARAM_TYPE_U32 = 3,
    PARAM_TYPE_BUF = 4,
};

// One typed value of a remote-call message. Multi-byte values are little-endian on the wire,
// unaligned.
class IParam {
public:
    virtual int getType() = 0;
    // Bytes that flatten writes.
    virtual int getFlattenedSize() = 0;
    // Writes the value bytes at dst; returns how many were written.
    virtual int flatten(unsigned char* dst) = 0;
    // Reads one value from the size bytes at src; returns the bytes consumed, or -1 when the
    // value does not fit in them (or its buffer cannot be allocated).
    virtual int unflatten(const unsigned char* src, size_t size) = 0;
    virtual ~IParam() {}
};

// A NUL-terminated text.
class ParamString : public IParam {
public:
    explicit ParamString(const char* value = "");
    int getType() override { return PARAM_TYPE_STRING; }
    int getFlattenedSize() override;
    int flatten(unsigned char* dst) override;
    int unflatten(const unsigned char* src, size_t size) override;
    ~ParamString() override;

    const AString& value() const { return _value; }

private:
    AString _value;
};

class ParamU8 : public IParam {
public:
    explicit ParamU8(unsigned char value = 0) : _value(value) {}
    int getType() override { return PARAM_TYPE_U8; }
    int getFlattenedSize() override { return 1; }
    int flatten(unsigned char* dst) override;
    int unflatten(const unsigned char* src, size_t size) override;

    unsigned char value() const { return _value; }

private:
    unsigned char _value;
};

class ParamU16 : public IParam {
public:
    explicit ParamU16(unsigned short value = 0) : _value(value) {}
    int getType() override { return PARAM_TYPE_U16; }
    int getFlattenedSize() override { return 2; }
    int flatten(unsigned char* dst) override;
    int unflatten(const unsigned char* src, size_t size) override;

    unsigned short value() const { return _value; }

private:
    unsigned short _value;
};

// A 32-bit value; the low 32 bits of what it is given.
class ParamU32 : public IParam {
public:
    explicit ParamU32(unsigned long value = 0) : _value(static_cast<uint32_t>(value)) {}
    int getType() override { return PARAM_TYPE_U32; }
    int getFlattenedSize() override { return 4; }
    int flatten(unsigned char* dst) override;
    int unflatten(const unsigned char* src, size_t size) override;

    uint32_t value() const { return _value; }

private:
    uint32_t _value;
};

// A byte buffer: a 32-bit size, then the bytes. The value owns its array until a reader takes
// it with take(); from then on the array is the reader's, who releases it with delete[].
class ParamBuf : public IParam {
public:
    ParamBuf();
    // Copies size bytes of data; an array that cannot be allocated leaves the value empty.
    ParamBuf(const unsigned char* data, unsigned long size);
    ~ParamBuf() override;
    int getType() override { return PARAM_TYPE_BUF; }
    int getFlattenedSize() override;
    int flatten(unsigned char* dst) override;
    int unflatten(const unsigned char* src, size_t size) override;

    // Hands the array to the caller (NULL for an empty buffer) and returns its size. Every
    // call hands out the same array; only one reader may release it.
    unsigned long take(unsigned char** data);

private:
    ParamBuf(const ParamBuf&) = delete;
    ParamBuf& operator=(const ParamBuf&) = delete;
    void release();

    unsigned char* _data;
    uint32_t _size;
    bool _handed_out;
};

}  // namespace android
