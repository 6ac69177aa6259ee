#pragma once

// The camera's parameter text, "key=value;key=value...", as a map sorted by key.

#include <map>
#include <string>

namespace vemo {
namespace tools {

using ParameterMap = std::map<std::string, std::string>;

// Splits at ';' and each pair at its first '='; a pair without '=' or with an empty key is
// skipped, as the platform's parameter class does.
ParameterMap parseParameters(const std::string& text);
std::string flattenParameters(const ParameterMap& parameters);

// Checks one "key=value" argument of the command line and adds it to *changes. Returns false
// and sets *error when the key is empty or either side holds '=' or ';', as the platform's
// parameter class refuses them.
bool addAssignment(const std::string& argument, ParameterMap* changes, std::string* error);

// The parameters as a table: one line a key, "  key  value", keys padded to one width; a key
// in marked gets "* " in place of the leading blanks.
std::string parameterTable(const ParameterMap& parameters, const ParameterMap& marked = {});

}  // namespace tools
}  // namespace vemo
