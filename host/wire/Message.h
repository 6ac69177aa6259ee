#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vemo {
namespace host {

// Type codes of the wire format; the code is one byte on the wire.
enum class ValueType : uint8_t { kString = 0, kU8 = 1, kU16 = 2, kU32 = 3, kBuffer = 4 };

// One typed value of a message. A buffer either owns its bytes or borrows them; borrowed bytes
// must stay valid and unchanged until every message holding them has been encoded, which lets a
// large frame go from where it lies straight into the outgoing packet.
class Value {
public:
    // The text up to its first 0 byte, as the wire can carry no more of it.
    static Value string(std::string_view text);
    static Value u8(uint8_t number);
    static Value u16(uint16_t number);
    static Value u32(uint32_t number);
    static Value buffer(std::vector<uint8_t> bytes);
    static Value borrowedBuffer(const uint8_t* data, uint32_t size);

    ValueType type() const { return _type; }
    // The number of a u8, u16 or u32 value; 0 for the other types.
    uint32_t number() const { return _number; }
    const std::string& text() const { return _text; }
    const uint8_t* bufferData() const { return _borrowed != nullptr ? _borrowed : _owned.data(); }
    uint32_t bufferSize() const { return _size; }

    // Bytes of the value after its type byte.
    size_t encodedSize() const;
    // Writes encodedSize() bytes at dst; returns the position after them.
    uint8_t* encode(uint8_t* dst) const;

private:
    explicit Value(ValueType type) : _type(type) {}

    ValueType _type;
    uint32_t _number = 0;
    std::string _text;
    std::vector<uint8_t> _owned;
    const uint8_t* _borrowed = nullptr;
    uint32_t _size = 0;
};

// Why a byte sequence is not a message. Offsets count from the start of the payload.
enum class DecodeError {
    kNone,
    kNoEndByte,           // the bytes end where the next key or the end byte should be
    kEntryCutShort,       // an entry's key, type or value runs past the end; offset of the entry
    kBadTypeCode,         // detail holds the code; offset of the type byte
    kBufferBeyondPacket,  // detail holds the announced size; offset of the size field
    kKeyOutOfOrder,       // keys must rise strictly in byte order; offset of the entry
    kBytesAfterEnd,       // detail holds how many; offset just after the end byte
};

struct DecodeResult {
    DecodeError error = DecodeError::kNone;
    size_t offset = 0;
    uint32_t detail = 0;

    bool ok() const { return error == DecodeError::kNone; }
    // One phrase for a log line, such as "bad type code 5 at offset 11".
    std::string describe() const;
};

// A set of named typed values, kept sorted by key in byte order (the order on the wire). Keys
// are non-empty and hold no 0 byte, so a key can never be taken for the end byte.
class Message {
public:
    using Entry = std::pair<std::string, Value>;

    // Adds the entry, or replaces the value of an entry with the same key. Returns false and
    // changes nothing for a key that is empty or holds a 0 byte.
    bool set(std::string_view key, Value value);

    // Null when there is no such entry.
    const Value* find(std::string_view key) const;
    // The text of a string entry; null when absent or of another type.
    const std::string* text(std::string_view key) const;
    // The number of a u32 entry; nothing when absent or of another type.
    std::optional<uint32_t> u32(std::string_view key) const;

    const std::vector<Entry>& entries() const { return _entries; }
    bool empty() const { return _entries.empty(); }
    void clear() { _entries.clear(); }

    size_t encodedSize() const;
    // Writes encodedSize() bytes at dst and returns that count.
    size_t encode(uint8_t* dst) const;
    std::vector<uint8_t> encode() const;

    // Replaces the content with the message in exactly size bytes at data; reads nothing outside
    // them. On failure the message holds the entries decoded before the fault.
    DecodeResult decode(const uint8_t* data, size_t size);

private:
    // Index of the first entry whose key is not below key.
    size_t lowerBound(std::string_view key) const;

    std::vector<Entry> _entries;
};

}  // namespace host
}  // namespace vemo
