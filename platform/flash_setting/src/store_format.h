// The store's text format, kept apart from its file handling.
//
//   kvn-flash-setting 1\n
//   key=value\n
//   ...
//
// Keys are non-empty and hold no '=', '\n', '\r' or NUL; values hold no
// '\n', '\r' or NUL.  A line that breaks these rules, or a missing or
// unknown header, is damage: the lines that still read are kept.
#ifndef FLASH_SETTING_STORE_FORMAT_H
#define FLASH_SETTING_STORE_FORMAT_H

#include <stddef.h>

#include <map>
#include <string>

namespace flash_setting {

extern const char kHeader[];  // "kvn-flash-setting 1"

struct ParseResult {
    std::map<std::string, std::string> values;
    size_t damaged_lines = 0;  // lines dropped
    bool header_ok = false;
};

ParseResult parse(const char *data, size_t size);
std::string serialise(const std::map<std::string, std::string> &values);

bool key_is_storable(const char *key);
bool value_is_storable(const char *value);

}  // namespace flash_setting

#endif
