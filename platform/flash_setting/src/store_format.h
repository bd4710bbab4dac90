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
// rules, or a missing or unknown marker, is damage: it is counted and the
// lines that still read are kept.
#ifndef FLASH_SETTING_STORE_FORMAT_H
#define FLASH_SETTING_STORE_FORMAT_H

#include <stddef.h>

#include <map>
#include <string>

namespace flash_setting {

extern const char kHeader[];  // "kvn-flash-setting 1"

struct ParseResult {
    std::map<std::string, std::string> values;
    bool header_ok = false;
    size_t damaged_lines = 0;       // lines dropped (or kept only after dropping a '\r')
    size_t first_damaged_line = 0;  // 1-based; 0 when there is none
    bool truncated = false;         // the last line had no '\n'

    bool damaged(size_t size) const { return size == 0 || !header_ok || damaged_lines > 0; }
};

ParseResult parse(const char *data, size_t size);
std::string serialise(const std::map<std::string, std::string> &values);

bool key_is_storable(const char *key);
bool value_is_storable(const char *value);

}  // namespace flash_setting

#endif
