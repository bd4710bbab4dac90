#include "store_format.h"

#include <string.h>

namespace flash_setting {

const char kHeader[] = "kvn-flash-setting 1";

bool key_is_storable(const char *key) {
    if (key == nullptr || *key == '\0') return false;
    return strpbrk(key, "=\n\r") == nullptr;
}

bool value_is_storable(const char *value) {
    return value != nullptr && strpbrk(value, "\n\r") == nullptr;
}

ParseResult parse(const char *data, size_t size) {
    ParseResult result;
    size_t pos = 0;
    bool first = true;
    while (pos < size) {
        const void *nl = memchr(data + pos, '\n', size - pos);
        size_t end = nl ? static_cast<size_t>(static_cast<const char *>(nl) - data) : size;
        std::string line(data + pos, end - pos);
        bool complete = nl != nullptr;
        pos = complete ? end + 1 : size;
        if (first) {
            first = false;
            if (complete && line == kHeader) {
                result.header_ok = true;
                continue;
            }
            // No header: a hand-made file; still read its lines.
        }
        if (!complete || line.empty() || line.find('\0') != std::string::npos ||
            line.find('\r') != std::string::npos) {
            if (!line.empty() || !complete) ++result.damaged_lines;
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            ++result.damaged_lines;
            continue;
        }
        result.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return result;
}

std::string serialise(const std::map<std::string, std::string> &values) {
    std::string out = std::string(kHeader) + "\n";
    for (const auto &kv : values) {
        out += kv.first;
        out += '=';
        out += kv.second;
        out += '\n';
    }
    return out;
}

}  // namespace flash_setting
