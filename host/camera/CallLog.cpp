#include "CallLog.h"

#include <algorithm>

#include "RemoteKeys.h"

namespace vemo {
namespace host {

namespace {

// Texts longer than this are cut, so that a guest's long string can't bloat the notes.
constexpr size_t kMaxText = 48;

void appendValue(const Value& value, std::string* out) {
    switch (value.type()) {
        case ValueType::kString:
            out->push_back('"');
            out->append(value.text(), 0, kMaxText);
            out->append(value.text().size() > kMaxText ? "...\"" : "\"");
            break;
        case ValueType::kBuffer:
            out->append("[" + std::to_string(value.bufferSize()) + " bytes]");
            break;
        default:
            out->append(std::to_string(value.number()));
            break;
    }
}

}  // namespace

void CallLog::note(const Message& request, const Message& reply, uint64_t micros, uint64_t at) {
    CallNote& note = _notes[_next];
    _next = (_next + 1) % kCapacity;
    _count = std::min(_count + 1, kCapacity);
    const std::string* function = request.text(keys::kFunction);
    note.function.assign(function != nullptr ? function->substr(0, kMaxText) : "?");
    note.arguments.clear();
    for (const Message::Entry& entry : request.entries()) {
        if (entry.first == keys::kFunction) {
            continue;
        }
        if (!note.arguments.empty()) {
            note.arguments.push_back(' ');
        }
        note.arguments.append(entry.first, 0, kMaxText);
        note.arguments.push_back('=');
        appendValue(entry.second, &note.arguments);
    }
    note.result.clear();
    if (const Value* error = reply.find(keys::kError)) {
        note.result.append("error: ");
        note.result.append(error->text(), 0, 2 * kMaxText);
    } else if (const Value* value = reply.find(keys::kReturn)) {
        appendValue(*value, &note.result);
    } else {
        // Functions that hand out a frame or a file answer with it instead of "__return".
        for (const Message::Entry& entry : reply.entries()) {
            if (entry.second.type() == ValueType::kBuffer) {
                appendValue(entry.second, &note.result);
            }
        }
    }
    note.micros = micros;
    note.at = at;
}

std::vector<CallNote> CallLog::recent() const {
    std::vector<CallNote> notes;
    notes.reserve(_count);
    for (size_t i = 0; i < _count; ++i) {
        notes.push_back(_notes[(_next + kCapacity - _count + i) % kCapacity]);
    }
    return notes;
}

}  // namespace host
}  // namespace vemo
