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
    size_t line_no = 0;
    auto damage = [&result, &line_no] {
        if (result.damaged_lines++ == 0) result.first_damaged_line = line_no;
    };
    while (pos < size) {
        ++line_no;
        const char *start = data + pos;
        const void *nl = memchr(start, '\n', size - pos);
        size_t len = nl ? static_cast<size_t>(static_cast<const char *>(nl) - start) : size - pos;
        pos += nl ? len + 1 : len;
        if (nl == nullptr) {
            result.truncated = true;
            damage();
            break;
        }
        if (line_no == 1) {
            if (len == sizeof kHeader - 1 && memcmp(start, kHeader, len) == 0) {
                result.header_ok = true;
                continue;
            }
            // No marker: a file made by hand, or damage; its lines still count.
        }
        if (len == 0) continue;  // blank lines are harmless
        // A file saved by a DOS editor still reads; the '\r' is not part of the value.
        bool cr = start[len - 1] == '\r';
        if (cr) --len;
        const char *eq = static_cast<const char *>(memchr(start, '=', len));
        if (eq == nullptr || eq == start || memchr(start, '\0', len) != nullptr ||
            memchr(start, '\r', len) != nullptr) {
            damage();
            continue;
        }
        if (cr) damage();
        size_t key_len = static_cast<size_t>(eq - start);
        result.values[std::string(start, key_len)].assign(eq + 1, len - key_len - 1);
    }
    return result;
}

std::string serialise(const std::map<std::string, std::string> &values) {
    size_t total = sizeof kHeader;
    for (const auto &kv : values) total += kv.first.size() + kv.second.size() + 2;
    std::string out;
    out.reserve(total);
    out += kHeader;
    out += '\n';
    for (const auto &kv : values) {
        out += kv.first;
        out += '=';
        out += kv.second;
        out += '\n';
    }
    return out;
}

}  // namespace flash_setting
