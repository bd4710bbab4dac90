// The TV mode as the applications share it: /tmp/tvmode seeded from the
// settings store, and the picture switched off and back on around standby.
#include <stdio.h>

#include "common/codes.h"
#include "common/numbers.h"
#include "common/picture.h"
#include "common/warn.h"
#include "korvan_framework_lib.h"
#include "platform/imports.h"
#include "value_file.h"

extern "C" int init_video_config(void *context) {
    (void)context;
    if (get_value_from_file(kvn::kTvmodeFile) != -1) return 0;
    int mode = kvn::kModeAuto;  // when nothing (usable) was ever stored
    if (!kvn::stored_number("video_output", &mode)) mode = kvn::kModeAuto;
    write_var("video_output", &mode, kvn::kStoreNumber);
    write_value_to_file(kvn::kTvmodeFile, mode);
    return 0;
}

extern "C" int init_audio_config(void) { return 0; }

extern "C" int VideoOutputOnOff(int on, kvn_window *window) {
    (void)window;
    if (on == 1) {
        printf("Turn ON the display \n");
        kvn::FileNumber number = kvn::mode_file_number();
        int recorded = number.kind == kvn::FileNumber::kNumber ? number.value : -1;
        int code = recorded;
        // What a missing file (or one holding -1) reads as goes to the
        // daemon as ever.  A file holding the picture-off code, or any number
        // that names no picture, would keep the screen dark after the wake:
        // the stored mode is restored instead, or the automatic mode.
        bool recorded_as_missing = number.kind == kvn::FileNumber::kNone ||
                                   (number.kind == kvn::FileNumber::kNumber && recorded == -1);
        if (!recorded_as_missing && !kvn::is_picture_mode(recorded)) {
            int stored = kvn::kModeAuto;
            code = kvn::stored_number("video_output", &stored) && kvn::is_picture_mode(stored)
                       ? stored
                       : kvn::kModeAuto;
            kvn::warn("VideoOutputOnOff", "/tmp/tvmode holds no picture mode; restoring mode %d",
                      code);
        }
        // The code the daemon gets, so that the line tells what the screen shows.
        printf("tvmode :%d\n", code);
        fflush(stdout);
        kvn::set_output_mode(code);
    } else {
        printf("Turn OFF the display \n");
        fflush(stdout);
        kvn::set_output_mode(kvn::kModePictureOff);
    }
    return 0;
}
