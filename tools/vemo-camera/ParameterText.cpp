#include "ParameterText.h"

#include <algorithm>

namespace vemo {
namespace tools {

ParameterMap parseParameters(const std::string& text) {
    ParameterMap parameters;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string pair = text.substr(start, end - start);
        const size_t equals = pair.find('=');
        if (equals != std::string::npos && equals > 0) {
            parameters[pair.substr(0, equals)] = pair.substr(equals + 1);
        }
        start = end + 1;
    }
    return parameters;
}

std::string flattenParameters(const ParameterMap& parameters) {
    std::string text;
    for (const auto& entry : parameters) {
        text += (text.empty() ? "" : ";") + entry.first + "=" + entry.second;
    }
    return text;
}

bool addAssignment(const std::string& argument, ParameterMap* changes, std::string* error) {
    const size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0) {
        *error = "'" + argument + "' is not KEY=VALUE";
        return false;
    }
    const std::string key = argument.substr(0, equals);
    const std::string value = argument.substr(equals + 1);
    if (key.find(';') != std::string::npos || value.find(';') != std::string::npos ||
        value.find('=') != std::string::npos) {
        *error = "'" + argument + "': keys and values cannot hold '=' or ';'";
        return false;
    }
    (*changes)[key] = value;
    return true;
}

std::string parameterTable(const ParameterMap& parameters, const ParameterMap& marked) {
    size_t width = 0;
    for (const auto& entry : parameters) {
        width = std::max(width, entry.first.size());
    }
    std::string table;
    for (const auto& entry : parameters) {
        table += marked.count(entry.first) != 0 ? "* " : "  ";
        table += entry.first + std::string(width - entry.first.size() + 2, ' ') + entry.second;
        table += "\n";
    }
    return table;
}

}  // namespace tools
}  // namespace vemo
