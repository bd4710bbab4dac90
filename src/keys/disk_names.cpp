#include "disk_names.h"

#include <string.h>

namespace kvn {

char disk_letter(const char *device) {
    if (device == nullptr || strncmp(device, "/dev/sd", 7) != 0) return 0;
    char letter = device[7];
    if (letter < 'a' || letter > 'z') return 0;
    for (const char *p = device + 8; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return 0;
    }
    return letter;
}

}  // namespace kvn
