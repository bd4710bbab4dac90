// The texts the standby reads from other programs: a torrent status line
// and a mount entry's device name.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "keys/power_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    (void)kvn::torrent_line_busy(text, size);

    std::string device(text, strnlen(text, size));
    char letter = kvn::disk_letter(device.c_str());
    if (letter != 0) {
        if (letter < 'a' || letter > 'z') abort();
        // Nothing that could mean something to a shell gets through.
        if (device.find_first_of(" ;|&$`'\"\\<>*?()\n\t") != std::string::npos) abort();
    }
    return 0;
}
