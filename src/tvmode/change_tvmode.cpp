#include "change_tvmode.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "common/codes.h"
#include "common/files.h"
#include "common/picture.h"
#include "common/warn.h"
#include "korvan_framework_lib.h"
#include "mode_parse.h"
#include "platform/imports.h"

namespace kvn {

int notify_tvmode_change(const char *payload) {
    // Into the FIFO only: never created (a plain file there would be
    // truncated at every event), never through a link, and without waiting
    // for a reader: with nobody reading, the open fails (ENXIO) and the change
    // goes on without its event line.
    int fd = open_for_writing("/tmp/kvn_framework_pipe", false, "notify_tvmode_change");
    if (fd < 0) {
        perror("fopen pipe failed");
        return 1;
    }
    char line[128];
    int length =
        payload != nullptr
            ? snprintf(line, sizeof line, "swf=<event>%s</event>%s\n", "change_tvmode", payload)
            : snprintf(line, sizeof line, "swf=<event>%s</event>\n", "change_tvmode");
    if (length < 0 || static_cast<size_t>(length) >= sizeof line) length = 0;
    // One write of a short line: whole or not at all, even into a full pipe.
    ssize_t written = length > 0 ? write(fd, line, static_cast<size_t>(length)) : -1;
    int error = errno;
    close(fd);
    if (written != length) {
        warn("notify_tvmode_change", "event line not written: %s",
             written < 0 ? strerror(error) : "cut short");
        return 1;
    }
    return 0;
}

}  // namespace kvn

extern "C" int change_tvmode(int mode, int announce) {
    char label[20];
    char tvname[10];
    char option[128];
    memset(label, 0, sizeof label);
    memset(tvname, 0, sizeof tvname);
    memset(option, 0, sizeof option);
    int osd_handle = -1;
    int osd_handle_label = 0;
    const kvn::ModeStrings strings = kvn::mode_strings(mode);

    if (announce == 1) snprintf(label, sizeof label, "%s", strings.label);
    if (mode >= 0) write_value_to_file("/tmp/tvmode", mode);

    kvn_window *focused = get_window_on_focus();
    int owner = focused != nullptr ? focused->osd_id : kvn::kDialogFrameworkOwner;
    osd_command(owner, &osd_handle, kvn::kDialogOpen, kvn::kDialogNoFlags, kvn::kDialogShow, 0,
                nullptr);
    osd_command(owner, &osd_handle, kvn::kDialogModeChanging, kvn::kDialogNoFlags, kvn::kDialogShow,
                0, nullptr);
    osd_command(owner, &osd_handle, kvn::kDialogClose, kvn::kDialogNoFlags, kvn::kDialogShow, 0,
                nullptr);

    if (mode == kvn::kModeAuto) {
        // One line of at most 9 characters, its line end kept; anything but a
        // regular file there counts as no name.
        if (kvn::read_regular("/tmp/tvname", tvname, sizeof tvname - 1) >= 0) {
            if (char *end = strchr(tvname, '\n')) end[1] = '\0';
            kvn::map_tvname(tvname, sizeof tvname);
            if (tvname[0] != '\0') kvn::notify_tvmode_change(tvname);
        }
    } else {
        kvn::notify_tvmode_change(strings.payload);
    }

    kvn::set_output_mode(mode);

    if (announce == 1) {
        int length = snprintf(option, sizeof option, "-opts=%s\t-optdel=%c\t", label, ',');
        if (length < 0) length = 0;
        if (length >= static_cast<int>(sizeof option)) length = sizeof option - 1;
        osd_command(kvn::kDialogFrameworkOwner, &osd_handle_label, kvn::kDialogModeLabel,
                    kvn::kDialogMessageFlags, kvn::kDialogTakeDown,
                    static_cast<unsigned short>(length), option);
        osd_command(kvn::kDialogFrameworkOwner, &osd_handle_label, kvn::kDialogModeLabel,
                    kvn::kDialogMessageFlags, kvn::kDialogShow, static_cast<unsigned short>(length),
                    option);
        if (get_window_on_focus() == nullptr) {
            fprintf(stderr, "WARNING!: %s [%d] \n", "get_current_apps", 5322);
        }
        save_commit();
    }
    osd_command(kvn::kDialogFrameworkOwner, &osd_handle_label, kvn::kDialogClose,
                kvn::kDialogNoFlags, kvn::kDialogShow, 0, nullptr);
    return 0;
}
