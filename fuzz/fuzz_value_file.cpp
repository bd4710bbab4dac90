// Reading of the TV mode value files (/tmp/tvmode and the like), which
// other programs of the player write.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <cstdlib>

#include "tvmode/value_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    int value = kvn_parse_value_text(text, size);
    bool empty = size == 0 || data[0] == 0;
    if (empty && value != -1) abort();
    // Only the first ten bytes may count.
    if (size > KVN_VALUE_FILE_MAX_BYTES &&
        kvn_parse_value_text(text, KVN_VALUE_FILE_MAX_BYTES) != value)
        abort();
    (void)kvn_value_path_is_safe(nullptr);
    if (size > 0 && size < 64) {
        char path[64];
        memcpy(path, data, size);
        path[size] = '\0';
        if (kvn_value_path_is_safe(path) && strpbrk(path, " ;|&$`'\"\\<>*?()\n\t") != nullptr)
            abort();
    }
    return 0;
}
