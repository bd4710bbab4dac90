// Operations the TV-mode code shares inside the library.
#ifndef KVN_TVMODE_INTERNAL_H
#define KVN_TVMODE_INTERNAL_H

#include "korvan_framework_lib.h"

extern "C" {
// Writes one "change_tvmode" event line to /tmp/kvn_framework_pipe; null
// payload writes the line without one.  0 written, 1 not written (no FIFO
// there, no reader, or the pipe full).
int notify_tvmode_change(const char *payload);
// Turns a menu choice (resolution group code, frequency index) into a mode,
// replies to /tmp/tolu_cgi, stores and applies it.  -1 when /tmp/tolu_cgi
// cannot be opened.
int apply_tvmode_selection(int group, int frequency);
// The TV-mode menu on the caller's window; always 0.
int tvmode_menu(kvn_window *window);

// The main user-interface application's command input, /tmp/tolu_cgi, open
// for one reply (-1 when it cannot be), and the reply sent on it with its NUL
// byte; the descriptor is closed.
int kvn_open_reply_input(void);
void kvn_send_reply(int fd, const char *reply);
}

#endif
