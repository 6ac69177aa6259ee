#pragma once

// The host-side counterpart of a preview-window buffer in the simulated guest: a POSIX shared
// memory object that the guest's graphics allocator creates for each buffer and that the host
// fills when the module asks it to update the buffer (updateFrameToCB). The buffer's native
// handle carries the identifier in word 19; the object's name follows from it.
//
// Layout of the object: a header of VEMO_GRALLOC_HEADER_SIZE bytes, then the pixels, rows of
// `stride` bytes. Every number is little-endian.
//
//   offset  size  field
//   0       4     magic VEMO_GRALLOC_MAGIC (written by the allocator)
//   4       4     version VEMO_GRALLOC_VERSION
//   8       4     width in pixels
//   12      4     height in pixels
//   16      4     stride in bytes
//   20      4     pixel format (HAL_PIXEL_FORMAT_RGB_888: 3 bytes a pixel, R, G, B)
//   24      4     capacity: the pixel bytes that follow the header
//   28      4     sequence: incremented by the host after each frame it writes
//   32      8     timestamp of the frame written, microseconds, host's monotonic clock
//   40      4     frame number of the host's source for that frame
//   44      20    reserved, 0
//
// The allocator writes the header (sequence 0) when it creates or resizes the buffer. The host
// trusts nothing in it: it writes a frame only when width x height rows of stride bytes fit
// the capacity and the object's real size, and it draws the frame at the buffer's own size.

#include <stdint.h>

#define VEMO_GRALLOC_MAGIC 0x42524756u  // "VGRB"
#define VEMO_GRALLOC_VERSION 1u
#define VEMO_GRALLOC_HEADER_SIZE 64u

// Word of the buffer's native handle (counting the 3 header words) that holds the identifier.
#define VEMO_GRALLOC_ID_WORD 19
// Words the camera writes before it queues a buffer: two zero words, then the width and the
// height of the frame it drew.
#define VEMO_GRALLOC_GEOMETRY_WORD 15

// Name of the shared memory object of buffer id: printf format with the id as unsigned.
#define VEMO_GRALLOC_NAME_FORMAT "/vemo-gralloc-%u"
