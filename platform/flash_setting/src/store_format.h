// The store's text format, kept apart from its file handling so that it can
// be fuzzed on its own.
//
//   kvn-flash-setting 1\n          format marker and version
//   key=value\n                    one entry a line, in key order
//   ...
//
// Keys are non-empty and hold no '=', '\n', '\r' or NUL; values hold no
// '\n', '\r' or NUL (they may be empty).  Everything after the first '=' is
// the value.  A committed file always ends with '\n', so a last line without
// one was cut short and is not trusted.  Anything else that breaks these
// rules, a missing or unknown marker, or a key given twice (the last one
// wins) is damage: it is counted and the lines that still read are kept.
#ifndef FLASH_SETTING_STORE_FORMAT_H
#define FLASH_SETTING_STORE_FORMAT_H

#include <stddef.h>

#include <map>
#include <string>

namespace flash_setting {

extern const char kHeader[];  // "kvn-flash-setting 1"

// The largest store, as written: writers refuse to grow a store beyond it,
// and readers of a bigger file keep the entries that fit in it.
constexpr size_t kMaxStoreBytes = 16u << 20;

struct ParseResult {
    std::map<std::string, std::string> values;
    size_t bytes = 0;  // bytes seen
    bool header_ok = false;
    size_t damaged_lines = 0;       // lines dropped (or kept only after dropping a '\r')
    size_t first_damaged_line = 0;  // 1-based; 0 when there is none
    size_t duplicate_keys = 0;      // lines whose key an earlier line already gave
    size_t first_duplicate_line = 0;
    size_t over_limit = 0;  // entries dropped because the kept ones reached the limit
    bool truncated = false;  // the last line had no '\n'

    bool damaged() const {
        return bytes == 0 || !header_ok || damaged_lines > 0 || duplicate_keys > 0 || over_limit > 0;
    }
};

// Parses a file fed in pieces of any size, holding at most `limit` bytes of
// it at a time: a longer line is dropped as damage, and entries that would
// make the kept values serialise to more than `limit` are dropped.
class Parser {
public:
    explicit Parser(size_t limit = kMaxStoreBytes) : limit_(limit) {}
    void feed(const char *data, size_t size);
    ParseResult finish();

private:
    void line(const char *start, size_t len);
    void damage();

    size_t limit_;
    ParseResult result_;
    std::string partial_;    // the start of a line that spans pieces
    bool skipping_ = false;  // inside a line longer than the limit
    size_t line_no_ = 0;
    size_t kept_bytes_ = 0;  // of the values as serialise() writes them
};

ParseResult parse(const char *data, size_t size);
std::string serialise(const std::map<std::string, std::string> &values);
// Bytes that serialise() writes for one entry, and for the marker line.
inline size_t entry_bytes(const std::string &key, const std::string &value) {
    return key.size() + value.size() + 2;
}
size_t header_bytes();

bool key_is_storable(const char *key);
bool value_is_storable(const char *value);

}  // namespace flash_setting

#endif
