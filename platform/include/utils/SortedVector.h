#pragma once

#include <stddef.h>
#include <sys/types.h>

#include <vector>

#include <utils/Errors.h>
#include <utils/TypeHelpers.h>

namespace android {

// A vector kept sorted with unique items; lookups bisect. The order is compare_type's.
template <class TYPE>
class SortedVector {
public:
    typedef TYPE value_type;

    inline size_t size() const { return mItems.size(); }
    inline bool isEmpty() const { return mItems.empty(); }
    inline void clear() { mItems.clear(); }
    inline const TYPE& itemAt(size_t index) const { return mItems[index]; }
    inline const TYPE& operator[](size_t index) const { return mItems[index]; }
    inline TYPE& editItemAt(size_t index) { return mItems[index]; }

    // Index of item, or NAME_NOT_FOUND.
    ssize_t indexOf(const TYPE& item) const {
        size_t pos = 0;
        return find(item, &pos) ? static_cast<ssize_t>(pos) : static_cast<ssize_t>(NAME_NOT_FOUND);
    }

    // Where item is, or where it would be inserted.
    size_t orderOf(const TYPE& item) const {
        size_t pos = 0;
        find(item, &pos);
        return pos;
    }

    // Adds item, replacing an equal one; returns its index.
    ssize_t add(const TYPE& item) {
        size_t pos = 0;
        if (find(item, &pos)) {
            mItems[pos] = item;
        } else {
            mItems.insert(mItems.begin() + static_cast<ptrdiff_t>(pos), item);
        }
        return static_cast<ssize_t>(pos);
    }

    ssize_t remove(const TYPE& item) {
        size_t pos = 0;
        if (!find(item, &pos)) {
            return static_cast<ssize_t>(NAME_NOT_FOUND);
        }
        mItems.erase(mItems.begin() + static_cast<ptrdiff_t>(pos));
        return static_cast<ssize_t>(pos);
    }

    ssize_t removeAt(size_t index) {
        if (index >= mItems.size()) {
            return static_cast<ssize_t>(BAD_VALUE);
        }
        mItems.erase(mItems.begin() + static_cast<ptrdiff_t>(index));
        return static_cast<ssize_t>(index);
    }

private:
    // Bisection: true with *pos at the item when present, else false with *pos at the place
    // where it belongs.
    bool find(const TYPE& item, size_t* pos) const {
        size_t lo = 0;
        size_t hi = mItems.size();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            const int c = compare_type(mItems[mid], item);
            if (c == 0) {
                *pos = mid;
                return true;
            }
            if (c < 0) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        *pos = lo;
        return false;
    }

    std::vector<TYPE> mItems;
};

}  // namespace android
