// Mode commands from other programs through /tmp/display, and the
// follow-up of an HDMI hot-plug.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "korvan_framework_lib.h"
#include "kvn_platform.h"
#include "mode_parse.h"

namespace {

// The main user-interface application's command input.  Non-blocking so
// that a FIFO whose reader has gone fails at once, like a missing file,
// instead of freezing the calling application's loop; never created.
int open_tolu_cgi() { return open("/tmp/tolu_cgi", O_WRONLY | O_NONBLOCK); }

void write_reply(int fd, const char *reply) {
    ssize_t n = write(fd, reply, strlen(reply) + 1);  // with its NUL byte
    (void)n;
}

}  // namespace

extern "C" void check_tvmode_fifo(void) {
    char command[61];
    memset(command, 0, sizeof command);
    ssize_t n = read(outport_pipe, command, 60);
    if (n <= 1) return;
    command[n] = '\0';
    kvn::ModeCommand parsed = kvn::parse_mode_command(command);
    if (!parsed.has_prefix) return;
    int fd = open_tolu_cgi();
    if (fd < 0) return;
    if (parsed.save) {
        char value[16];
        snprintf(value, sizeof value, "%d", parsed.code);
        write_var("video_output", value, 0);
    }
    change_tvmode(parsed.code, 0);
    write_reply(fd, parsed.reply);
    close(fd);
}

extern "C" int check_hdmi_state_changed(void) {
    int mode = get_value_from_file("/tmp/tvmode");
    if (mode != 0) return mode;
    struct stat st;
    if (stat("/tmp/hdmi_changed", &st) != 0) return -1;
    int fd = open_tolu_cgi();
    if (fd >= 0) {
        write_reply(fd, "tv=auto");
        close(fd);
    }
    return system("rm /tmp/hdmi_changed");
}
