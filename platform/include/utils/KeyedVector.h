#pragma once

#include <stddef.h>
#include <sys/types.h>

#include <utils/Errors.h>
#include <utils/SortedVector.h>
#include <utils/TypeHelpers.h>

namespace android {

// Key/value pairs sorted by key, with unique keys.
template <typename KEY, typename VALUE>
class KeyedVector {
public:
    typedef KEY key_type;
    typedef VALUE value_type;

    inline size_t size() const { return mVector.size(); }
    inline bool isEmpty() const { return mVector.isEmpty(); }
    inline void clear() { mVector.clear(); }

    // Index of key, or NAME_NOT_FOUND.
    ssize_t indexOfKey(const KEY& key) const { return mVector.indexOf(pair_t(key)); }

    const VALUE& valueFor(const KEY& key) const { return mVector.itemAt(indexOfKey(key)).value; }
    inline const KEY& keyAt(size_t index) const { return mVector.itemAt(index).key; }
    inline const VALUE& valueAt(size_t index) const { return mVector.itemAt(index).value; }
    inline VALUE& editValueAt(size_t index) { return mVector.editItemAt(index).value; }

    // Adds the pair, or gives an existing key the new value; returns the index.
    ssize_t add(const KEY& key, const VALUE& value) { return mVector.add(pair_t(key, value)); }

    // Gives an existing key the new value, or adds the pair; returns the index.
    ssize_t replaceValueFor(const KEY& key, const VALUE& value) { return add(key, value); }

    ssize_t replaceValueAt(size_t index, const VALUE& value) {
        if (index >= size()) {
            return static_cast<ssize_t>(BAD_INDEX);
        }
        mVector.editItemAt(index).value = value;
        return static_cast<ssize_t>(index);
    }

    ssize_t removeItem(const KEY& key) { return mVector.remove(pair_t(key)); }
    ssize_t removeItemsAt(size_t index) { return mVector.removeAt(index); }

private:
    typedef key_value_pair_t<KEY, VALUE> pair_t;
    SortedVector<pair_t> mVector;
};

}  // namespace android
