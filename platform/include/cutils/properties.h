#pragma once

// System properties, as the platform's libcutils offers them. The store lives in the
// platform library, so the module and the program that loads it share one set of values.
// It is filled once, before the first access, from the build.prop-style file named by the
// environment variable VEMO_PROPERTY_FILE ("key=value" lines, '#' starts a comment).

#define PROPERTY_KEY_MAX 32
#define PROPERTY_VALUE_MAX 92

#ifdef __cplusplus
extern "C" {
#endif

// Copies the value of key into value (at most PROPERTY_VALUE_MAX bytes, NUL included) and
// returns its length. An absent or empty property yields default_value (or "" when that is
// NULL) and its length.
int property_get(const char* key, char* value, const char* default_value);

// Sets key to value; an empty value removes the property. Returns 0, or -1 when the key or
// the value is too long or NULL.
int property_set(const char* key, const char* value);

#ifdef __cplusplus
}
#endif
