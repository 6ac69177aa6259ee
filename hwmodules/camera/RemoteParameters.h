#pragma once

#include <stddef.h>

#include <media/stagefright/foundation/AString.h>
#include <utils/KeyedVector.h>

#include "Param.h"

namespace android {

// The message of a remote call: named, typed values kept sorted by name (byte order of the
// names). Its flattened form is the whole payload of a packet:
//   for each entry, in name order: name bytes, 0x00, type code byte, value bytes
//   then one 0x00 where the next name would begin.
// The container owns its values. Queries for a name that is absent, or that holds another
// type, log and give 0, an empty text or no buffer.
class CRemoteParameters {
public:
    CRemoteParameters();
    virtual ~CRemoteParameters();

    virtual int getFlattenedSize();
    // Writes the message at dst, which holds at least getFlattenedSize() bytes; returns its size.
    virtual int flatten(unsigned char* dst);
    // Adds the entries of the message in the size bytes at src and returns the index of its end
    // byte (0 for an empty message). A bad type code, a message that ends inside an entry or
    // lacks its end byte gives -1; the entries decoded before the fault stay.
    virtual int unflatten(const unsigned char* src, size_t size);

    // Each adds or replaces the entry key; an empty key is refused and adds nothing.
    void addParam(AString key, const char* value);
    void addParam(AString key, unsigned char value);
    void addParam(AString key, unsigned short value);
    void addParam(AString key, unsigned long value);
    void addParam(AString key, const unsigned char* data, unsigned long size);

    AString getStrParam(AString key);
    unsigned char getU8Param(AString key);
    unsigned short getU16Param(AString key);
    unsigned long getU32Param(AString key);
    // True when key holds a value of the type (a PARAM_TYPE_ code); logs nothing.
    bool hasParam(const AString& key, int type) const;
    // Stores the buffer's array through data (it then belongs to the caller, who releases it
    // with delete[]) and returns its size; 0 with *data untouched when there is no buffer.
    unsigned long getBufParam(AString key, unsigned char** data);

private:
    CRemoteParameters(const CRemoteParameters&) = delete;
    CRemoteParameters& operator=(const CRemoteParameters&) = delete;

    // Takes ownership of value.
    void setParam(const AString& key, IParam* value);
    // The value of key if it has the type, else NULL after the query's log line.
    IParam* findParam(const AString& key, int type, const char* query);

    KeyedVector<AString, IParam*> _params;
};

}  // namespace android
