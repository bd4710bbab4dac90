// Numbers as the player keeps them: decimal text, in small files under /tmp
// and in the settings store.  One parser for both, kept apart from the I/O
// so that it can be tested and fuzzed.
#ifndef KVN_COMMON_NUMBERS_H
#define KVN_COMMON_NUMBERS_H

#include <stddef.h>

namespace kvn {

// A decimal number at the start of a text: white space skipped, an optional
// sign, the digits up to the first other character.  Text without digits is
// 0.  False, with `value` untouched, when the number does not fit an int:
// such a number is no value at all rather than some other, valid one.
bool parse_number(const char *text, size_t n, int *value);

// A number kept in the settings store under `key`.  False when the key has no
// value or its number does not fit an int.
bool stored_number(const char *key, int *value);

}  // namespace kvn

#endif
