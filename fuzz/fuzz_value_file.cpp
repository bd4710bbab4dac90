// The mode value files other programs write (/tmp/tvmode, ...), and the paths the shell may be
// given.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "tvmode/value_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    int value = kvn::parse_value_text(text, size);
    if ((size == 0 || data[0] == 0) && value != -1) abort();
    if (size > kvn::kValueFileMaxBytes &&
        kvn::parse_value_text(text, kvn::kValueFileMaxBytes) != value)
        abort();
    char path[64] = {0};
    memcpy(path, data, size < 63 ? size : 63);
    if (kvn::value_path_is_safe(path) && strpbrk(path, " ;|&$`'\"\\<>*?()\n\t") != nullptr) abort();
    return 0;
}
