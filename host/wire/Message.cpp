#include "Message.h"

#include <algorithm>
#include <cstring>

#include "ByteReader.h"

namespace vemo {
namespace host {

namespace {

constexpr uint8_t kMaxTypeCode = static_cast<uint8_t>(ValueType::kBuffer);

uint8_t* putU16(uint8_t* dst, uint16_t v) {
    dst[0] = static_cast<uint8_t>(v);
    dst[1] = static_cast<uint8_t>(v >> 8);
    return dst + 2;
}

uint8_t* putU32(uint8_t* dst, uint32_t v) {
    dst[0] = static_cast<uint8_t>(v);
    dst[1] = static_cast<uint8_t>(v >> 8);
    dst[2] = static_cast<uint8_t>(v >> 16);
    dst[3] = static_cast<uint8_t>(v >> 24);
    return dst + 4;
}

bool validKey(std::string_view key) {
    return !key.empty() && key.find('\0') == std::string_view::npos;
}

}  // namespace

Value Value::string(std::string_view text) {
    Value v(ValueType::kString);
    v._text = std::string(text.substr(0, text.find('\0')));
    return v;
}

Value Value::u8(uint8_t number) {
    Value v(ValueType::kU8);
    v._number = number;
    return v;
}

Value Value::u16(uint16_t number) {
    Value v(ValueType::kU16);
    v._number = number;
    return v;
}

Value Value::u32(uint32_t number) {
    Value v(ValueType::kU32);
    v._number = number;
    return v;
}

Value Value::buffer(std::vector<uint8_t> bytes) {
    Value v(ValueType::kBuffer);
    v._size = static_cast<uint32_t>(bytes.size());
    v._owned = std::move(bytes);
    return v;
}

Value Value::borrowedBuffer(const uint8_t* data, uint32_t size) {
    Value v(ValueType::kBuffer);
    v._borrowed = size > 0 ? data : nullptr;
    v._size = size;
    return v;
}

size_t Value::encodedSize() const {
    switch (_type) {
        case ValueType::kString:
            return _text.size() + 1;
        case ValueType::kU8:
            return 1;
        case ValueType::kU16:
            return 2;
        case ValueType::kU32:
            return 4;
        case ValueType::kBuffer:
            return 4 + static_cast<size_t>(_size);
    }
    return 0;
}

uint8_t* Value::encode(uint8_t* dst) const {
    switch (_type) {
        case ValueType::kString:
            std::memcpy(dst, _text.c_str(), _text.size() + 1);
            return dst + _text.size() + 1;
        case ValueType::kU8:
            *dst = static_cast<uint8_t>(_number);
            return dst + 1;
        case ValueType::kU16:
            return putU16(dst, static_cast<uint16_t>(_number));
        case ValueType::kU32:
            return putU32(dst, _number);
        case ValueType::kBuffer:
            dst = putU32(dst, _size);
            if (_size > 0) {
                std::memcpy(dst, bufferData(), _size);
            }
            return dst + _size;
    }
    return dst;
}

std::string DecodeResult::describe() const {
    const std::string at = " at offset " + std::to_string(offset);
    switch (error) {
        case DecodeError::kNone:
            return "well-formed";
        case DecodeError::kNoEndByte:
            return "no end byte";
        case DecodeError::kEntryCutShort:
            return "entry cut short" + at;
        case DecodeError::kBadTypeCode:
            return "bad type code " + std::to_string(detail) + at;
        case DecodeError::kBufferBeyondPacket:
            return "buffer length " + std::to_string(detail) + " beyond packet" + at;
        case DecodeError::kKeyOutOfOrder:
            return "key out of order" + at;
        case DecodeError::kBytesAfterEnd:
            return std::to_string(detail) + " bytes after end byte";
    }
    return "unknown fault";
}

size_t Message::lowerBound(std::string_view key) const {
    auto it = std::lower_bound(_entries.begin(), _entries.end(), key,
                               [](const Entry& e, std::string_view k) { return e.first < k; });
    return static_cast<size_t>(it - _entries.begin());
}

bool Message::set(std::string_view key, Value value) {
    if (!validKey(key)) {
        return false;
    }
    auto it = _entries.begin() + static_cast<ptrdiff_t>(lowerBound(key));
    if (it != _entries.end() && it->first == key) {
        it->second = std::move(value);
    } else {
        _entries.emplace(it, std::string(key), std::move(value));
    }
    return true;
}

const Value* Message::find(std::string_view key) const {
    const size_t ix = lowerBound(key);
    return ix < _entries.size() && _entries[ix].first == key ? &_entries[ix].second : nullptr;
}

const std::string* Message::text(std::string_view key) const {
    const Value* v = find(key);
    return v != nullptr && v->type() == ValueType::kString ? &v->text() : nullptr;
}

std::optional<uint32_t> Message::u32(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr || v->type() != ValueType::kU32) {
        return std::nullopt;
    }
    return v->number();
}

size_t Message::encodedSize() const {
    size_t size = 1;
    for (const Entry& e : _entries) {
        size += e.first.size() + 2 + e.second.encodedSize();
    }
    return size;
}

size_t Message::encode(uint8_t* dst) const {
    uint8_t* p = dst;
    for (const Entry& e : _entries) {
        std::memcpy(p, e.first.c_str(), e.first.size() + 1);
        p += e.first.size() + 1;
        *p++ = static_cast<uint8_t>(e.second.type());
        p = e.second.encode(p);
    }
    *p++ = 0;
    return static_cast<size_t>(p - dst);
}

std::vector<uint8_t> Message::encode() const {
    std::vector<uint8_t> bytes(encodedSize());
    encode(bytes.data());
    return bytes;
}

DecodeResult Message::decode(const uint8_t* data, size_t size) {
    _entries.clear();
    ByteReader in(data, size);
    std::string_view previousKey;
    for (;;) {
        const size_t entryStart = in.offset();
        uint8_t first = 0;
        if (!in.peekU8(&first)) {
            return {DecodeError::kNoEndByte, entryStart, 0};
        }
        if (first == 0) {
            in.readU8(&first);
            if (in.remaining() > 0) {
                return {DecodeError::kBytesAfterEnd, in.offset(),
                        static_cast<uint32_t>(in.remaining())};
            }
            return {};
        }
        const DecodeResult cutShort{DecodeError::kEntryCutShort, entryStart, 0};
        std::string_view key;
        if (!in.readCString(&key)) {
            return cutShort;
        }
        if (!_entries.empty() && !(previousKey < key)) {
            return {DecodeError::kKeyOutOfOrder, entryStart, 0};
        }
        const size_t typeOffset = in.offset();
        uint8_t code = 0;
        if (!in.readU8(&code)) {
            return cutShort;
        }
        if (code > kMaxTypeCode) {
            return {DecodeError::kBadTypeCode, typeOffset, code};
        }

        std::optional<Value> value;
        switch (static_cast<ValueType>(code)) {
            case ValueType::kString: {
                std::string_view text;
                if (in.readCString(&text)) {
                    value = Value::string(text);
                }
                break;
            }
            case ValueType::kU8: {
                uint8_t v = 0;
                if (in.readU8(&v)) {
                    value = Value::u8(v);
                }
                break;
            }
            case ValueType::kU16: {
                uint16_t v = 0;
                if (in.readU16Le(&v)) {
                    value = Value::u16(v);
                }
                break;
            }
            case ValueType::kU32: {
                uint32_t v = 0;
                if (in.readU32Le(&v)) {
                    value = Value::u32(v);
                }
                break;
            }
            case ValueType::kBuffer: {
                const size_t sizeOffset = in.offset();
                uint32_t length = 0;
                if (!in.readU32Le(&length)) {
                    break;
                }
                const uint8_t* bytes = nullptr;
                if (!in.readBytes(length, &bytes)) {
                    return {DecodeError::kBufferBeyondPacket, sizeOffset, length};
                }
                value = Value::buffer(std::vector<uint8_t>(bytes, bytes + length));
                break;
            }
        }
        if (!value) {
            return cutShort;
        }
        _entries.emplace_back(std::string(key), std::move(*value));
        previousKey = key;
    }
}

}  // namespace host
}  // namespace vemo
