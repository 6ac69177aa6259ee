#pragma once

// The wire between the simulated guest's driver (the guest-driver emulation behind
// open("/dev/vboxguest")) and the host's guest-driver endpoint, a Unix stream socket. It plays
// the part of the hypervisor: the host service reads and writes the guest memory that a call's
// parameters point at, as the real host does through the guest's physical pages.
//
// One socket per open driver handle; requests on one socket follow one another strictly.
// Every number is a little-endian 32-bit value (i32 where signed).
//
// Guest to host:
//   CONNECT     u32 op, u32 location type, 128 bytes service name (NUL-padded)
//               answered by RESULT (status, new client id)
//   DISCONNECT  u32 op, u32 client id
//               answered by RESULT
//   CALL        u32 op, u32 client id, u32 function, u32 parameter count (at most
//               VEMO_HGCM_MAX_PARMS), then for each parameter:
//                 u32 type (VMMDevHGCMParmType_*), u32 size, u32 inline flag,
//                 and when the flag is 1, the size bytes of the parameter at once.
//               Value parameters (32bit, 64bit: size 4 or 8) are always inline. Address
//               parameters are inline up to VEMO_HGCM_INLINE_LIMIT bytes; the host READs larger
//               ones when it needs their bytes.
//               answered by any number of READ and WRITE, then DONE
//
// Host to guest:
//   RESULT      u32 op, i32 status, u32 client id (the new one for CONNECT, else 0)
//   READ        u32 op, u32 parameter index (from 0), u32 offset, u32 length
//               the guest answers with i32 status: 0 followed by the length bytes, or -1 (and
//               nothing else) when the range lies outside the parameter
//   WRITE       u32 op, u32 parameter index, u32 offset, u32 length, then the length bytes;
//               no answer; the guest drops a range that lies outside the parameter
//   DONE        u32 op, i32 result of the call (the request's result field)
//
// A peer that sends anything else, or breaks the socket, ends the handle: the guest's ioctl
// then fails with EIO.

#define VEMO_HGCM_OP_CONNECT 1u
#define VEMO_HGCM_OP_DISCONNECT 2u
#define VEMO_HGCM_OP_CALL 3u

#define VEMO_HGCM_OP_RESULT 0x80u
#define VEMO_HGCM_OP_READ 0x81u
#define VEMO_HGCM_OP_WRITE 0x82u
#define VEMO_HGCM_OP_DONE 0x83u

#define VEMO_HGCM_MAX_PARMS 32u
#define VEMO_HGCM_INLINE_LIMIT 4096u
// Largest parameter either side accepts.
#define VEMO_HGCM_MAX_PARM_SIZE (128u * 1024u * 1024u)

// Statuses the host puts into RESULT and DONE, as VirtualBox numbers them.
#define VEMO_VINF_SUCCESS 0
#define VEMO_VERR_INVALID_PARAMETER (-2)
#define VEMO_VERR_NOT_SUPPORTED (-37)
#define VEMO_VERR_HGCM_SERVICE_NOT_FOUND (-2900)
#define VEMO_VERR_INVALID_CLIENT_ID (-2908)

// Environment variable that names the host's endpoint in the guest.
#define VEMO_HGCM_SOCKET_ENV "VEMO_HGCM_SOCKET"
