// The switch between the 50 Hz and 60 Hz families.
#include <stdlib.h>
#include <string.h>

#include "common/codes.h"
#include "common/numbers.h"
#include "korvan_framework_lib.h"
#include "platform/imports.h"

extern "C" void SwitchTvSystem(void) {
    char *stored = get_var_mem("video_output");
    if (stored == nullptr) return;
    // A number too large for an int has no twin either: like every code
    // without one, it becomes the automatic mode.
    int code = kvn::kModeAuto;
    if (!kvn::parse_number(stored, strlen(stored), &code)) code = -1;
    free(stored);
    // The twins: an odd code of the first ten is the 60 Hz (or NTSC) one, and
    // the next code its 50 Hz (or PAL) twin.
    if (code >= kvn::kMode480i && code <= kvn::kMode1080p50) {
        code = (code % 2 == 1) ? code + 1 : code - 1;
        write_var("video_output", &code, kvn::kStoreNumber);
    } else if (code != kvn::kModeAuto) {
        code = kvn::kModeAuto;
        write_var("video_output", &code, kvn::kStoreNumber);
    }
    char *system_name = get_var_mem("tv_system");
    if (system_name == nullptr) return;
    write_var("tv_system", strcmp(system_name, "PAL") == 0 ? "NTSC" : "PAL", kvn::kStoreText);
    change_tvmode(code, 0);
    free(system_name);
}
