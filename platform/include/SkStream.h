#pragma once

#include <stddef.h>

#include <vector>

// A stream of bytes written in turn.
class SkWStream {
public:
    virtual ~SkWStream() {}
    // Appends size bytes; false on failure.
    virtual bool write(const void* buffer, size_t size) = 0;
    virtual size_t bytesWritten() const = 0;
};

// A stream that keeps what is written in memory.
class SkDynamicMemoryWStream : public SkWStream {
public:
    SkDynamicMemoryWStream() = default;
    ~SkDynamicMemoryWStream() override = default;

    bool write(const void* buffer, size_t size) override;
    size_t bytesWritten() const override { return fBytes.size(); }
    size_t getOffset() const { return fBytes.size(); }
    // Copies everything written so far to dst, which holds at least bytesWritten() bytes.
    void copyTo(void* dst) const;
    // The bytes written so far.
    const unsigned char* data() const { return fBytes.data(); }
    void reset() { fBytes.clear(); }

private:
    std::vector<unsigned char> fBytes;
};
