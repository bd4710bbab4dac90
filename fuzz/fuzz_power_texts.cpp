// A torrent status line and a mount entry's device name (it reaches the shell), as standby reads.
#include <string.h>

#include "fuzz.h"
#include "keys/disk_names.h"
#include "keys/torrent_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    (void)kvn::torrent_line_busy(text, size);
    std::string device(text, strnlen(text, size));
    char letter = kvn::disk_letter(device.c_str());
    must(letter == 0 || (letter >= 'a' && letter <= 'z' && shell_safe(device)));
    return 0;
}
