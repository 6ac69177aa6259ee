#pragma once

// Camera messages, commands and facing values.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    CAMERA_MSG_ERROR = 0x0001,
    CAMERA_MSG_SHUTTER = 0x0002,
    CAMERA_MSG_FOCUS = 0x0004,
    CAMERA_MSG_ZOOM = 0x0008,
    CAMERA_MSG_PREVIEW_FRAME = 0x0010,
    CAMERA_MSG_VIDEO_FRAME = 0x0020,
    CAMERA_MSG_POSTVIEW_FRAME = 0x0040,
    CAMERA_MSG_RAW_IMAGE = 0x0080,
    CAMERA_MSG_COMPRESSED_IMAGE = 0x0100,
    CAMERA_MSG_RAW_IMAGE_NOTIFY = 0x0200,
    CAMERA_MSG_PREVIEW_METADATA = 0x0400,
    CAMERA_MSG_FOCUS_MOVE = 0x0800,
    CAMERA_MSG_ALL_MSGS = 0xFFFF,
};

enum {
    CAMERA_CMD_START_SMOOTH_ZOOM = 1,
    CAMERA_CMD_STOP_SMOOTH_ZOOM = 2,
    CAMERA_CMD_SET_DISPLAY_ORIENTATION = 3,
    CAMERA_CMD_ENABLE_SHUTTER_SOUND = 4,
    CAMERA_CMD_PLAY_RECORDING_SOUND = 5,
    CAMERA_CMD_START_FACE_DETECTION = 6,
    CAMERA_CMD_STOP_FACE_DETECTION = 7,
    CAMERA_CMD_ENABLE_FOCUS_MOVE_MSG = 8,
    CAMERA_CMD_PING = 9,
    CAMERA_CMD_SET_VIDEO_BUFFER_COUNT = 10,
};

enum {
    CAMERA_FACING_BACK = 0,
    CAMERA_FACING_FRONT = 1,
};

enum {
    CAMERA_ERROR_UNKNOWN = 1,
    CAMERA_ERROR_RELEASED = 2,
    CAMERA_ERROR_SERVER_DIED = 100,
};

typedef struct camera_face {
    int32_t rect[4];
    int32_t score;
    int32_t id;
    int32_t left_eye[2];
    int32_t right_eye[2];
    int32_t mouth[2];
} camera_face_t;

typedef struct camera_frame_metadata {
    int32_t number_of_faces;
    camera_face_t* faces;
} camera_frame_metadata_t;

#ifdef __cplusplus
}
#endif
