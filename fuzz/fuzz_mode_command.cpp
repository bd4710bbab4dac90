// Commands other programs write into /tmp/display, and the output side's
// mode names in /tmp/tvname.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "tvmode/mode_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // As the pipe reader sees it: at most 60 bytes, NUL-terminated.
    char command[61];
    size_t n = size < 60 ? size : 60;
    memcpy(command, data, n);
    command[n] = '\0';
    kvn::ModeCommand parsed = kvn::parse_mode_command(command);
    if (parsed.reply == nullptr || strncmp(parsed.reply, "tv=", 3) != 0) abort();
    if (parsed.code < 0 || parsed.code > 11) abort();
    if (parsed.has_prefix != (strncmp(command, "tv=", 3) == 0)) abort();
    kvn::ModeStrings strings = kvn::mode_strings(parsed.code);
    if (strings.label == nullptr || strlen(strings.label) > 10) abort();

    char name[10];
    size_t m = size < 9 ? size : 9;
    memcpy(name, data, m);
    name[m] = '\0';
    kvn::map_tvname(name, sizeof name);
    if (strlen(name) > 9) abort();
    return 0;
}
