// The in-process property store behind property_get and property_set.

#include <cutils/properties.h>

#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Store {
    std::mutex lock;
    std::map<std::string, std::string> values;
};

std::string trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

// Reads "key=value" lines; blank lines, lines starting with '#' and lines without '=' are
// skipped. Values that do not fit a property are skipped too.
void loadFile(const char* path, std::map<std::string, std::string>* values) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const std::string text = trim(line);
        if (text.empty() || text[0] == '#') {
            continue;
        }
        const size_t eq = text.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = trim(text.substr(0, eq));
        const std::string value = trim(text.substr(eq + 1));
        if (key.empty() || value.size() >= PROPERTY_VALUE_MAX) {
            continue;
        }
        (*values)[key] = value;
    }
}

Store& store() {
    static Store* instance = [] {
        Store* s = new Store();
        const char* path = getenv("VEMO_PROPERTY_FILE");
        if (path != nullptr && path[0] != '\0') {
            loadFile(path, &s->values);
        }
        return s;
    }();
    return *instance;
}

void copyOut(char* value, const std::string& text) {
    const size_t n = text.size() < PROPERTY_VALUE_MAX ? text.size() : PROPERTY_VALUE_MAX - 1;
    memcpy(value, text.data(), n);
    value[n] = '\0';
}

}  // namespace

extern "C" int property_get(const char* key, char* value, const char* default_value) {
    if (value == nullptr) {
        return -1;
    }
    std::string found;
    if (key != nullptr) {
        Store& s = store();
        std::lock_guard<std::mutex> guard(s.lock);
        auto it = s.values.find(key);
        if (it != s.values.end()) {
            found = it->second;
        }
    }
    if (found.empty() && default_value != nullptr) {
        found = default_value;
    }
    copyOut(value, found);
    return static_cast<int>(strlen(value));
}

extern "C" int property_set(const char* key, const char* value) {
    if (key == nullptr || value == nullptr || key[0] == '\0') {
        return -1;
    }
    if (strlen(value) >= PROPERTY_VALUE_MAX) {
        return -1;
    }
    Store& s = store();
    std::lock_guard<std::mutex> guard(s.lock);
    if (value[0] == '\0') {
        s.values.erase(key);
    } else {
        s.values[key] = value;
    }
    return 0;
}
