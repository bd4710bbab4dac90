// Numbers in small files under /tmp (/tmp/tvmode and its kind), as the
// player's programs write them for each other (write_value_to_file and
// get_value_from_file, in the public header).
#ifndef KVN_TVMODE_VALUE_FILE_H
#define KVN_TVMODE_VALUE_FILE_H

#include <stddef.h>

namespace kvn {

// The value file of the TV mode code in force.
constexpr const char *kTvmodeFile = "/tmp/tvmode";

// At most this many bytes of a value file are looked at.
constexpr size_t kValueFileMaxBytes = 10;

// Interprets the first `n` bytes of a value file (only the first
// kValueFileMaxBytes count; the text ends at an embedded NUL).  Returns -1
// for an empty text or a number beyond the range of int, else the number at
// its start (see parse_number); no digits gives 0.
int parse_value_text(const char *buf, size_t n);

// True when `path` may be handed to the shell unquoted: non-empty and only
// [A-Za-z0-9/._-].
bool value_path_is_safe(const char *path);

// A value file as read: nothing usable there (missing, empty, no regular
// file), a number, or digits beyond int.
struct FileNumber {
    enum Kind { kNone, kNumber, kTooLarge } kind = kNone;
    int value = -1;
};

// /tmp/tvmode as it is now; read again only when the file changed.
FileNumber mode_file_number();

}  // namespace kvn

#endif
