// Reading of the small decimal files under /tmp (/tmp/tvmode and its
// kind), kept apart from the file I/O so that it can be tested and fuzzed
// on its own.
#ifndef KVN_VALUE_FILE_H
#define KVN_VALUE_FILE_H

#include <stddef.h>

extern "C" {

// At most this many bytes of a value file are looked at.
#define KVN_VALUE_FILE_MAX_BYTES 10

// Interprets the first `n` bytes of a value file (only the first
// KVN_VALUE_FILE_MAX_BYTES count; the text ends at an embedded NUL).
// Returns -1 for an empty text, else the base-10 number at its start:
// leading white space skipped, an optional sign, digits up to the first
// other character; no digits gives 0.  A number beyond the range of int
// is clamped to INT_MIN/INT_MAX instead of wrapping.
int kvn_parse_value_text(const char *buf, size_t n);

// True when `path` may be handed to the shell unquoted: non-empty and only
// [A-Za-z0-9/._-].
bool kvn_value_path_is_safe(const char *path);
}

#endif
