#pragma once

#include <string_view>

namespace vemo {
namespace host {

// Reserved entries of the remote call convention.
namespace keys {
constexpr std::string_view kFunction = "__function";         // request: what to run
constexpr std::string_view kRemoteClass = "__remote_class";  // "__initThis" request: class
constexpr std::string_view kReturn = "__return";             // reply: the function's result
constexpr std::string_view kError = "__error";               // reply: why the call failed
}  // namespace keys

// Functions every connection understands besides those of its instance's class.
constexpr std::string_view kInitThis = "__initThis";
constexpr std::string_view kDeleteThis = "__deleteThis";

}  // namespace host
}  // namespace vemo
