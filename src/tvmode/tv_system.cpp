// Storing a menu choice, and the switch between the 50 Hz and 60 Hz
// families.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kvn_platform.h"
#include "value_file.h"
#include "tvmode_internal.h"

namespace {

struct Selection {
    int code;
    const char *reply;
};

Selection select_mode(int group, int frequency) {
    switch (group) {
        case 10: return {frequency == 2 ? 6 : 5, "tv=720p"};
        case 11: return {frequency == 2 ? 8 : 7, "tv=1080i"};
        case 12: return {frequency == 1 ? 11 : (frequency == 2 ? 10 : 9), "tv=1080p"};
        case 13: return {frequency == 1 ? 22 : (frequency == 4 ? 21 : 20), "tv=4k"};
        default: return {0, "tv=auto"};
    }
}

}  // namespace

extern "C" int apply_tvmode_selection(int group, int frequency) {
    Selection selection = select_mode(group, frequency);
    // Opened as the mode pipe's replies are: a FIFO without its reader must
    // not freeze the menu.
    int fd = kvn_open_reply_input();
    if (fd < 0) {
        printf("open error!!!! line %d \n", 454);
        return -1;
    }
    kvn_send_reply(fd, selection.reply);
    write_var("video_output", &selection.code, 1);
    write_var("video_setting", "tvmode", 0);
    change_tvmode(selection.code, 0);
    save_commit();
    return 0;
}

extern "C" void SwitchTvSystem(void) {
    char *stored = get_var_mem("video_output");
    if (stored == nullptr) return;
    // A number too large for an int has no twin either: like every code
    // without one, it becomes the automatic mode.
    int code = 0;
    if (!kvn::parse_number(stored, strlen(stored), &code)) code = -1;
    free(stored);
    if (code >= 1 && code <= 10) {
        code = (code % 2 == 1) ? code + 1 : code - 1;
        write_var("video_output", &code, 1);
    } else if (code != 0) {
        code = 0;
        write_var("video_output", &code, 1);
    }
    char *system_name = get_var_mem("tv_system");
    if (system_name == nullptr) return;
    write_var("tv_system", strcmp(system_name, "PAL") == 0 ? "NTSC" : "PAL", 0);
    change_tvmode(code, 0);
    free(system_name);
}
