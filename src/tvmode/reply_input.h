// The main user-interface application's command input, /tmp/tolu_cgi, where
// the TV-mode code tells it of a mode it has set.
#ifndef KVN_TVMODE_REPLY_INPUT_H
#define KVN_TVMODE_REPLY_INPUT_H

namespace kvn {

// The input open for one reply, or -1 when it cannot be (missing, something
// else than a FIFO or a plain file with one name there, or a FIFO whose
// reader stayed away for 3 s: then `what`, the command or reply that is
// lost, is named in a warning).
int open_reply_input(const char *what);

// Sends the reply with its NUL byte on the descriptor, and closes it.
void send_reply(int fd, const char *reply);

}  // namespace kvn

#endif
