#pragma once

// The camera device interface 1.0: the device with its 23 operations, the preview window and
// the callbacks to the camera service.

#include <stddef.h>
#include <stdint.h>

#include <cutils/native_handle.h>
#include <hardware/camera_common.h>
#include <hardware/hardware.h>
#include <system/camera.h>

#ifdef __cplusplus
extern "C" {
#endif

struct camera_memory;
typedef void (*camera_release_memory)(struct camera_memory* mem);

typedef struct camera_memory {
    void* data;
    size_t size;
    void* handle;
    camera_release_memory release;
} camera_memory_t;

typedef camera_memory_t* (*camera_request_memory)(int fd, size_t buf_size, unsigned int num_bufs,
                                                  void* user);

typedef void (*camera_notify_callback)(int32_t msg_type, int32_t ext1, int32_t ext2, void* user);

typedef void (*camera_data_callback)(int32_t msg_type, const camera_memory_t* data,
                                     unsigned int index, camera_frame_metadata_t* metadata,
                                     void* user);

typedef void (*camera_data_timestamp_callback)(int64_t timestamp, int32_t msg_type,
                                               const camera_memory_t* data, unsigned int index,
                                               void* user);

#define HAL_CAMERA_PREVIEW_WINDOW_TAG 0xcafed00d

typedef struct preview_stream_ops {
    int (*dequeue_buffer)(struct preview_stream_ops* w, buffer_handle_t** buffer, int* stride);
    int (*enqueue_buffer)(struct preview_stream_ops* w, buffer_handle_t* buffer);
    int (*cancel_buffer)(struct preview_stream_ops* w, buffer_handle_t* buffer);
    int (*set_buffer_count)(struct preview_stream_ops* w, int count);
    int (*set_buffers_geometry)(struct preview_stream_ops* pw, int w, int h, int format);
    int (*set_crop)(struct preview_stream_ops* w, int left, int top, int right, int bottom);
    int (*set_usage)(struct preview_stream_ops* w, int usage);
    int (*set_swap_interval)(struct preview_stream_ops* w, int interval);
    int (*get_min_undequeued_buffer_count)(const struct preview_stream_ops* w, int* count);
    int (*lock_buffer)(struct preview_stream_ops* w, buffer_handle_t* buffer);
    int (*set_timestamp)(struct preview_stream_ops* w, int64_t timestamp);
} preview_stream_ops_t;

struct camera_device;

typedef struct camera_device_ops {
    int (*set_preview_window)(struct camera_device*, struct preview_stream_ops* window);
    void (*set_callbacks)(struct camera_device*, camera_notify_callback notify_cb,
                          camera_data_callback data_cb,
                          camera_data_timestamp_callback data_cb_timestamp,
                          camera_request_memory get_memory, void* user);
    void (*enable_msg_type)(struct camera_device*, int32_t msg_type);
    void (*disable_msg_type)(struct camera_device*, int32_t msg_type);
    int (*msg_type_enabled)(struct camera_device*, int32_t msg_type);
    int (*start_preview)(struct camera_device*);
    void (*stop_preview)(struct camera_device*);
    int (*preview_enabled)(struct camera_device*);
    int (*store_meta_data_in_buffers)(struct camera_device*, int enable);
    int (*start_recording)(struct camera_device*);
    void (*stop_recording)(struct camera_device*);
    int (*recording_enabled)(struct camera_device*);
    void (*release_recording_frame)(struct camera_device*, const void* opaque);
    int (*auto_focus)(struct camera_device*);
    int (*cancel_auto_focus)(struct camera_device*);
    int (*take_picture)(struct camera_device*);
    int (*cancel_picture)(struct camera_device*);
    int (*set_parameters)(struct camera_device*, const char* parms);
    char* (*get_parameters)(struct camera_device*);
    void (*put_parameters)(struct camera_device*, char*);
    int (*send_command)(struct camera_device*, int32_t cmd, int32_t arg1, int32_t arg2);
    void (*release)(struct camera_device*);
    int (*dump)(struct camera_device*, int fd);
} camera_device_ops_t;

typedef struct camera_device {
    hw_device_t common;
    camera_device_ops_t* ops;
    void* priv;
} camera_device_t;

#ifdef __cplusplus
}
#endif
