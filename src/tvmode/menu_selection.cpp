#include "menu_selection.h"

#include <stdio.h>

#include <string>

#include "common/codes.h"
#include "korvan_framework_lib.h"
#include "platform/imports.h"
#include "reply_input.h"

namespace kvn {

namespace {

struct Selection {
    int code;
    const char *reply;
};

// A group whose list offers no matching rate falls back to its 60 Hz mode
// (30 Hz for 4K).
Selection select_mode(int group, int frequency) {
    switch (group) {
        case kGroup720p:
            return {frequency == kFrequency50Hz ? kMode720p50 : kMode720p60, "tv=720p"};
        case kGroup1080i:
            return {frequency == kFrequency50Hz ? kMode1080i50 : kMode1080i60, "tv=1080i"};
        case kGroup1080p:
            return {frequency == kFrequency24Hz   ? kMode1080p24
                    : frequency == kFrequency50Hz ? kMode1080p50
                                                  : kMode1080p60,
                    "tv=1080p"};
        case kGroup4K:
            return {frequency == kFrequency24Hz   ? kMode4K24
                    : frequency == kFrequency25Hz ? kMode4K25
                                                  : kMode4K30,
                    "tv=4k"};
        default:
            return {kModeAuto, "tv=auto"};
    }
}

}  // namespace

int apply_tvmode_selection(int group, int frequency) {
    Selection selection = select_mode(group, frequency);
    std::string what = std::string("the reply \"") + selection.reply + "\" to a menu choice";
    int fd = open_reply_input(what.c_str());
    if (fd < 0) {
        printf("open error!!!! line %d \n", 454);
        return -1;
    }
    send_reply(fd, selection.reply);
    write_var("video_output", &selection.code, kStoreNumber);
    write_var("video_setting", "tvmode", kStoreText);
    change_tvmode(selection.code, 0);
    save_commit();
    return 0;
}

}  // namespace kvn
