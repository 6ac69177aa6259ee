#pragma once

// A graphics buffer's handle: a header, then numFds descriptors and numInts words.

#ifdef __cplusplus
extern "C" {
#endif

typedef struct native_handle {
    int version;  // sizeof(native_handle_t)
    int numFds;
    int numInts;
    __extension__ int data[0];  // numFds descriptors, then numInts words
} native_handle_t;

typedef const native_handle_t* buffer_handle_t;

#ifdef __cplusplus
}
#endif
