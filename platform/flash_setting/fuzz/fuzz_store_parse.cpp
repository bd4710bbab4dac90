#include <stddef.h>
#include <stdint.h>

#include "store_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    flash_setting::ParseResult r = flash_setting::parse(text, size);
    // Whatever was kept must survive a write and a read unchanged.
    std::string again = flash_setting::serialise(r.values);
    flash_setting::ParseResult r2 = flash_setting::parse(again.data(), again.size());
    if (r2.values != r.values || r2.damaged() || r2.truncated) __builtin_trap();

    // Read in pieces (as from a file) and with a small limit: what is kept
    // never serialises beyond the limit, and lines that fit read the same.
    const size_t limit = 64;
    flash_setting::Parser pieces(limit);
    for (size_t at = 0, step = 1; at < size; at += step, step = step % 7 + 1)
        pieces.feed(text + at, step < size - at ? step : size - at);
    flash_setting::ParseResult small = pieces.finish();
    if (flash_setting::serialise(small.values).size() > limit) __builtin_trap();
    for (const auto &kv : small.values)
        if (r.values.count(kv.first) == 0) __builtin_trap();
    if (small.bytes != size || small.header_ok != r.header_ok || small.truncated != r.truncated) __builtin_trap();
    return 0;
}
