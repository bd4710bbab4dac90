#include "store_format.h"

#include <string.h>

namespace flash_setting {

const char kHeader[] = "kvn-flash-setting 1";

size_t header_bytes() { return sizeof kHeader; }  // with its '\n' in place of the NUL

bool key_is_storable(const char *key) {
    if (key == nullptr || *key == '\0') return false;
    return strpbrk(key, "=\n\r") == nullptr;
}

bool value_is_storable(const char *value) {
    return value != nullptr && strpbrk(value, "\n\r") == nullptr;
}

void Parser::damage() {
    if (result_.damaged_lines++ == 0) result_.first_damaged_line = line_no_;
}

void Parser::feed(const char *data, size_t size) {
    result_.bytes += size;
    while (size > 0) {
        const char *nl = static_cast<const char *>(memchr(data, '\n', size));
        size_t len = nl ? static_cast<size_t>(nl - data) : size;
        if (!skipping_ && partial_.size() + len > limit_) {
            // Nothing this long was ever written; keep reading past it.
            skipping_ = true;
            partial_.clear();
            partial_.shrink_to_fit();
        }
        if (nl == nullptr) {
            if (!skipping_) partial_.append(data, len);
            return;
        }
        ++line_no_;
        if (skipping_) {
            damage();
            skipping_ = false;
        } else if (partial_.empty()) {
            line(data, len);
        } else {
            partial_.append(data, len);
            line(partial_.data(), partial_.size());
            partial_.clear();
        }
        data += len + 1;
        size -= len + 1;
    }
}

void Parser::line(const char *start, size_t len) {
    if (line_no_ == 1) {
        if (len == sizeof kHeader - 1 && memcmp(start, kHeader, len) == 0) {
            result_.header_ok = true;
            return;
        }
        // No marker: a file made by hand, or damage; its lines still count.
    }
    if (len == 0) return;  // blank lines are harmless
    // A file saved by a DOS editor still reads; the '\r' is not part of the value.
    bool cr = start[len - 1] == '\r';
    if (cr) --len;
    const char *eq = static_cast<const char *>(memchr(start, '=', len));
    if (eq == nullptr || eq == start || memchr(start, '\0', len) != nullptr ||
        memchr(start, '\r', len) != nullptr) {
        damage();
        return;
    }
    if (cr) damage();
    size_t key_len = static_cast<size_t>(eq - start);
    size_t bytes = len + 1;  // key, '=', value, '\n'
    std::string key(start, key_len);
    auto it = result_.values.find(key);
    size_t replaced = it == result_.values.end() ? 0 : entry_bytes(it->first, it->second);
    if (header_bytes() + kept_bytes_ - replaced + bytes > limit_) {
        ++result_.over_limit;
        return;
    }
    if (it != result_.values.end()) {
        if (result_.duplicate_keys++ == 0) result_.first_duplicate_line = line_no_;
    } else {
        it = result_.values.emplace(std::move(key), std::string()).first;
    }
    it->second.assign(eq + 1, len - key_len - 1);
    kept_bytes_ += bytes - replaced;
}

ParseResult Parser::finish() {
    if (skipping_ || !partial_.empty()) {
        ++line_no_;
        result_.truncated = true;
        damage();
    }
    partial_.clear();
    skipping_ = false;
    return std::move(result_);
}

ParseResult parse(const char *data, size_t size) {
    Parser parser;
    parser.feed(data, size);
    return parser.finish();
}

std::string serialise(const std::map<std::string, std::string> &values) {
    size_t total = header_bytes();
    for (const auto &kv : values) total += entry_bytes(kv.first, kv.second);
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
