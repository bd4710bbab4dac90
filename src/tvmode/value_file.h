// Numbers as the player keeps them: decimal text in small files under /tmp
// (/tmp/tvmode and its kind) and in the settings store.  One parser for
// both, kept apart from the I/O so that it can be tested and fuzzed.
#ifndef KVN_VALUE_FILE_H
#define KVN_VALUE_FILE_H

#include <stddef.h>

extern "C" {

// At most this many bytes of a value file are looked at.
#define KVN_VALUE_FILE_MAX_BYTES 10

// Interprets the first `n` bytes of a value file (only the first
// KVN_VALUE_FILE_MAX_BYTES count; the text ends at an embedded NUL).
// Returns -1 for an empty text or a number beyond the range of int, else
// the number at its start (see kvn::parse_number); no digits gives 0.
int kvn_parse_value_text(const char *buf, size_t n);

// True when `path` may be handed to the shell unquoted: non-empty and only
// [A-Za-z0-9/._-].
bool kvn_value_path_is_safe(const char *path);
}

namespace kvn {

// A decimal number at the start of a text: white space skipped, an optional
// sign, the digits up to the first other character.  Text without digits is
// 0.  False, with `value` untouched, when the number does not fit an int:
// such a number is no value at all rather than some other, valid one.
bool parse_number(const char *text, size_t n, int *value);

// A number kept in the settings store under `key`.  False when the key has no
// value or its number does not fit an int.
bool stored_number(const char *key, int *value);

// True for the codes that show a picture (the automatic mode, 480i to 1080p
// 24 Hz and the 4K modes).
bool is_picture_mode(int code);

}  // namespace kvn

#endif
