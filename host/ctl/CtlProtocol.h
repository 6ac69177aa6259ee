#pragma once

// The control socket of vemo-hostd, a Unix stream socket (--ctl-socket; by default ctl.sock in
// the host's private directory) through which the user who runs the host looks at it and
// steers it. `vemo-hostd ctl` is its client. Text is printable ASCII (0x20 to 0x7E) in
// lines that end with '\n'.
//
// Request: one line of at most kMaxRequestLine bytes, its '\n' included: a command and its
// arguments, separated by spaces. A command may take its last argument as the rest of the line,
// spaces and all. A '\r' before the '\n' is ignored.
//
// Reply: any number of text lines, then one end line:
//
//   ok                 the command did what it was asked
//   error <message>    it did not; the message is one sentence for a person, and the reply
//                      holds no other line
//
// A text line "data <N>" is followed by exactly N bytes of binary data and a '\n'; the text
// lines then go on. A client may send its next request once the end line has come. The host
// answers a request line it cannot read (too long, not text) with an error and closes the
// socket; otherwise it closes the socket when the client does.
//
// Commands (CtlCommands), and the lines of their replies:
//
//   status
//     host pid=<pid> cameras=<n> connections=<n> clients=<n> stores=<n> samples=<n>
//     limits idle-limit-ms=<ms> max-driver-clients=<n> sample-memory=<bytes>
//            sample-bytes=<bytes held now>                              (one line)
//     camera <ix> facing=<n> orientation=<degrees> fps=<n> source=<quoted choice>
//            shows=<quoted description> name=<quoted>                   (one line)
//     connection <id> peer=<address>:<port> <session>      a TCP camera-port connection
//     client <id> handle=<n> pairing=none                  an HGCM client, not opened
//     client <id> handle=<n> pairing=<open|ended> port=<port> unread=<bytes> [<session>]
//     store <n> outstanding=<n> oldest=<sample> newest=<sample>      (0 when there are none)
//   where <session> is "instance=<yes|no> [camera=<ix>] [store=<n>] requests=<n>".
//
//   samples
//     <n>                  samples outstanding in all stores together
//
//   sample <store> <number>
//     store <store>
//     number <number>
//     format <yuv420sp|yuv420p|yuv422i-yuyv>
//     size <width>x<height>
//     timestamp <microseconds on the host's monotonic clock>
//     data <n>             followed by the frame's bytes
//
//   source <camera> <choice>        the choice (SourceChoice.h) is the rest of the line
//     camera <ix> source=<quoted choice> shows=<quoted description>
//   Loads what the choice names and makes it the camera's source: every instance of the camera
//   shows it from its next captured picture on. A relative path is taken from the host's
//   working directory (`vemo-hostd ctl` sends absolute ones). When the source can't be read
//   the error says why and the camera keeps its source.
//
//   help
//     <command> <arguments>: <what it does>      one line per command
//
// Numbers are decimal. A quoted value is "..." with \" for a quote, \\ for a backslash and
// \xNN for any byte outside printable ASCII.

#include <cstddef>
#include <string>
#include <string_view>

namespace vemo {
namespace host {
namespace ctl {

constexpr size_t kMaxRequestLine = 1024;
// Bounds a client keeps to: a text line, a data block.
constexpr size_t kMaxReplyLine = 64 * 1024;
constexpr size_t kMaxDataBlock = 512u << 20;

constexpr std::string_view kOk = "ok";
constexpr std::string_view kErrorPrefix = "error ";
constexpr std::string_view kDataPrefix = "data ";

// Name of the socket file in the host's private directory.
constexpr const char* kSocketName = "ctl.sock";
// Environment variable that names the socket for the client.
constexpr const char* kSocketEnv = "VEMO_HOSTD_CTL";

// Text as a quoted value.
std::string quoted(std::string_view text);
// Text made fit for one line: bytes outside printable ASCII become '?'.
std::string printable(std::string_view text);

}  // namespace ctl
}  // namespace host
}  // namespace vemo
