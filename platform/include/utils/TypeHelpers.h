#pragma once

namespace android {

template <typename T>
inline int strictly_order_type(const T& lhs, const T& rhs) {
    return (lhs < rhs) ? 1 : 0;
}

// 1 when rhs sorts before lhs, -1 when lhs sorts before rhs, 0 when neither does.
template <typename T>
inline int compare_type(const T& lhs, const T& rhs) {
    return strictly_order_type(rhs, lhs) - strictly_order_type(lhs, rhs);
}

template <typename KEY, typename VALUE>
struct key_value_pair_t {
    typedef KEY key_t;
    typedef VALUE value_t;

    KEY key;
    VALUE value;

    key_value_pair_t() : key(), value() {}
    key_value_pair_t(const KEY& k, const VALUE& v) : key(k), value(v) {}
    explicit key_value_pair_t(const KEY& k) : key(k), value() {}

    // Pairs order by their key alone.
    inline bool operator<(const key_value_pair_t& o) const {
        return strictly_order_type(key, o.key);
    }
    inline const KEY& getKey() const { return key; }
    inline const VALUE& getValue() const { return value; }
};

template <typename K, typename V>
inline int compare_type(const key_value_pair_t<K, V>& lhs, const key_value_pair_t<K, V>& rhs) {
    return compare_type(lhs.key, rhs.key);
}

}  // namespace android
