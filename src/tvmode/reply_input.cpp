#include "reply_input.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "common/files.h"
#include "common/warn.h"

namespace kvn {

namespace {

constexpr const char *kReplyInput = "/tmp/tolu_cgi";
// The user-interface application reads its input all the time; a reply that
// finds the pipe full waits this long for room.
constexpr unsigned kReplyWaitMs = 3000;

}  // namespace

int open_reply_input() {
    // Non-blocking, so that a FIFO whose reader has gone fails at once, like a
    // missing file, instead of freezing the calling application's loop; never
    // created, never through a link.
    return open_for_writing(kReplyInput, true, "tolu_cgi");
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
