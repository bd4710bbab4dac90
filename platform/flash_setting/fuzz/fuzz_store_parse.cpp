#include <stddef.h>
#include <stdint.h>

#include "store_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    flash_setting::ParseResult r = flash_setting::parse(reinterpret_cast<const char *>(data), size);
    // Whatever was kept must survive a write and a read unchanged.
    std::string again = flash_setting::serialise(r.values);
    flash_setting::ParseResult r2 = flash_setting::parse(again.data(), again.size());
    if (r2.values != r.values || r2.damaged_lines != 0 || !r2.header_ok) __builtin_trap();
    return 0;
}
