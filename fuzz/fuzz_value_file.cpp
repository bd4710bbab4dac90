// The mode value files other programs write (/tmp/tvmode, ...), and the paths the shell is given.
#include <string.h>

#include "fuzz.h"
#include "tvmode/value_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    int value = kvn::parse_value_text(text, size);
    must(value == -1 || (size > 0 && data[0] != 0));
    must(size <= kvn::kValueFileMaxBytes ||
         kvn::parse_value_text(text, kvn::kValueFileMaxBytes) == value);
    char path[64] = {0};
    memcpy(path, data, size < 63 ? size : 63);
    must(!kvn::value_path_is_safe(path) || shell_safe(path));
    return 0;
}
