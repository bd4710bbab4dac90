#include "reply_input.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "common/files.h"
#include "common/warn.h"

namespace kvn {

namespace {

constexpr const char *kReplyInput = "/tmp/tolu_cgi";
// The user-interface application reads its input all the time, closing and
// opening its end between two messages; a reply waits this long for it to
// come back, and then for room in a full pipe.
constexpr unsigned kReplyWaitMs = 3000;

}  // namespace

int open_reply_input(const char *what) {
    // A reader between two opens of its end is waited for, as the blocking
    // open of the player's design does; one that stays away longer must not
    // freeze the calling application's loop.  Never created, never through a
    // link.
    int fd = open_for_a_reader(kReplyInput, true, "tolu_cgi", kReplyWaitMs);
    if (fd < 0 && errno == ENXIO) {
        warn("tolu_cgi", "no reader came to %s within %u s; %s is lost", kReplyInput,
             kReplyWaitMs / 1000, what);
    }
    return fd;
}

void send_reply(int fd, const char *reply) {
    // With its NUL byte.  A full FIFO is waited on for a while: the mode has
    // already changed, and the application must hear of it.
    if (!write_fully(fd, reply, strlen(reply) + 1, kReplyWaitMs)) {
        warn("tolu_cgi", "reply \"%s\" not delivered: %s", reply, strerror(errno));
    }
    close(fd);
}

}  // namespace kvn
