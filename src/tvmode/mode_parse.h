// The TV mode table and the parsing of the texts other programs send us,
// kept apart from their I/O so that they can be tested and fuzzed.
#ifndef KVN_TVMODE_MODE_PARSE_H
#define KVN_TVMODE_MODE_PARSE_H

#include <stddef.h>

#include "common/codes.h"

namespace kvn {

// Label when announcing, and payload of the "change_tvmode" event line.
struct ModeStrings {
    const char *label;
    const char *payload;
};
// Strings of a mode code; codes without a mode get the fallback row.
ModeStrings mode_strings(int code);

// One command read from /tmp/display.
struct ModeCommand {
    bool has_prefix = false;  // begins with "tv="
    bool save = false;        // "save" anywhere in the text
    int code = kModeAuto;     // the mode asked for (automatic when no word matches)
    const char *reply = "tv=auto";
};
// `text` is NUL-terminated; whatever follows the mode word is ignored
// except for the search for "save".
ModeCommand parse_mode_command(const char *text);

// The output side's name of the mode it picked in the automatic mode, as
// read from /tmp/tvname (at most 9 characters), rewritten in place to the
// name the applications know ("1080i59..." becomes "1080i60", ...).
// `size` is the buffer's size; the result is always NUL-terminated.
void map_tvname(char *text, size_t size);

// The length to keep of the first `length` bytes of a UTF-8 text so that
// no character is cut in two: `length` itself, or less when its last
// character is not complete within it.
size_t utf8_cut(const char *text, size_t length);

}  // namespace kvn

#endif
