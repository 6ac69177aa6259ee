#include "RemoteParameters.h"

#include <string.h>

#include <new>

#include <log/log.h>

namespace android {

namespace {

IParam* newParamOfType(unsigned int type) {
    switch (type) {
        case PARAM_TYPE_STRING:
            return new ParamString();
        case PARAM_TYPE_U8:
            return new ParamU8();
        case PARAM_TYPE_U16:
            return new ParamU16();
        case PARAM_TYPE_U32:
            return new ParamU32();
        case PARAM_TYPE_BUF:
            return new ParamBuf();
        default:
            return nullptr;
    }
}

}  // namespace

CRemoteParameters::CRemoteParameters() {}

CRemoteParameters::~CRemoteParameters() {
    for (size_t i = 0; i < _params.size(); ++i) {
        delete _params.valueAt(i);
    }
    _params.clear();
}

int CRemoteParameters::getFlattenedSize() {
    int size = 1;
    for (size_t i = 0; i < _params.size(); ++i) {
        size +=
            static_cast<int>(_params.keyAt(i).size()) + 2 + _params.valueAt(i)->getFlattenedSize();
    }
    return size;
}

int CRemoteParameters::flatten(unsigned char* dst) {
    size_t p = 0;
    for (size_t i = 0; i < _params.size(); ++i) {
        const AString& key = _params.keyAt(i);
        IParam* value = _params.valueAt(i);
        memcpy(dst + p, key.c_str(), key.size() + 1);
        dst[p + key.size() + 1] = static_cast<unsigned char>(value->getType());
        p += key.size() + 2 + static_cast<size_t>(value->flatten(dst + p + key.size() + 2));
    }
    dst[p] = 0;
    return static_cast<int>(p + 1);
}

int CRemoteParameters::unflatten(const unsigned char* src, size_t size) {
    size_t p = 0;
    for (;;) {
        if (p >= size) {
            ALOGE("%s: Message ends without its end byte (%zu bytes)", "unflatten", size);
            return -1;
        }
        if (src[p] == 0) {
            return static_cast<int>(p);
        }
        const void* keyEnd = memchr(src + p, 0, size - p);
        if (keyEnd == nullptr) {
            ALOGE("%s: Message ends inside a key at byte %zu", "unflatten", p);
            return -1;
        }
        const size_t k = static_cast<size_t>(static_cast<const unsigned char*>(keyEnd) - src);
        if (k + 1 >= size) {
            ALOGE("%s: Message ends before the type of the entry at byte %zu", "unflatten", p);
            return -1;
        }
        const unsigned int type = src[k + 1];
        IParam* value = newParamOfType(type);
        if (value == nullptr) {
            ALOGE("%s: Invalid parameter type found %d", "unflatten", type);
            return -1;
        }
        const int used = value->unflatten(src + k + 2, size - (k + 2));
        if (used < 0) {
            ALOGE("%s: Message ends inside the value of the entry at byte %zu", "unflatten", p);
            delete value;
            return -1;
        }
        setParam(AString(reinterpret_cast<const char*>(src + p), k - p), value);
        p = k + 2 + static_cast<size_t>(used);
    }
}

void CRemoteParameters::setParam(const AString& key, IParam* value) {
    if (key.empty()) {
        ALOGE("%s: Refusing an entry with an empty key", "addParam");
        delete value;
        return;
    }
    const ssize_t index = _params.indexOfKey(key);
    if (index >= 0) {
        delete _params.valueAt(static_cast<size_t>(index));
        _params.replaceValueAt(static_cast<size_t>(index), value);
    } else {
        _params.add(key, value);
    }
}

void CRemoteParameters::addParam(AString key, const char* value) {
    setParam(key, new ParamString(value));
}

void CRemoteParameters::addParam(AString key, unsigned char value) {
    setParam(key, new ParamU8(value));
}

void CRemoteParameters::addParam(AString key, unsigned short value) {
    setParam(key, new ParamU16(value));
}

void CRemoteParameters::addParam(AString key, unsigned long value) {
    setParam(key, new ParamU32(value));
}

void CRemoteParameters::addParam(AString key, const unsigned char* data, unsigned long size) {
    setParam(key, new ParamBuf(data, size));
}

IParam* CRemoteParameters::findParam(const AString& key, int type, const char* query) {
    const ssize_t index = _params.indexOfKey(key);
    IParam* value = index >= 0 ? _params.valueAt(static_cast<size_t>(index)) : nullptr;
    if (value == nullptr || value->getType() != type) {
        ALOGE("%s: Invalid query for param %s", query, key.c_str());
        return nullptr;
    }
    return value;
}

bool CRemoteParameters::hasParam(const AString& key, int type) const {
    const ssize_t index = _params.indexOfKey(key);
    return index >= 0 && _params.valueAt(static_cast<size_t>(index))->getType() == type;
}

AString CRemoteParameters::getStrParam(AString key) {
    IParam* value = findParam(key, PARAM_TYPE_STRING, "getStrParam");
    return value != nullptr ? static_cast<ParamString*>(value)->value() : AString();
}

unsigned char CRemoteParameters::getU8Param(AString key) {
    IParam* value = findParam(key, PARAM_TYPE_U8, "getU8Param");
    return value != nullptr ? static_cast<ParamU8*>(value)->value() : 0;
}

unsigned short CRemoteParameters::getU16Param(AString key) {
    IParam* value = findParam(key, PARAM_TYPE_U16, "getU16Param");
    return value != nullptr ? static_cast<ParamU16*>(value)->value() : 0;
}

unsigned long CRemoteParameters::getU32Param(AString key) {
    IParam* value = findParam(key, PARAM_TYPE_U32, "getU32Param");
    return value != nullptr ? static_cast<ParamU32*>(value)->value() : 0;
}

unsigned long CRemoteParameters::getBufParam(AString key, unsigned char** data) {
    IParam* value = findParam(key, PARAM_TYPE_BUF, "getBufParam");
    return value != nullptr ? static_cast<ParamBuf*>(value)->take(data) : 0;
}

}  // namespace android
