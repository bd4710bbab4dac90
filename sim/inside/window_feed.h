// The player's side of the channel to the launcher: keys, shots and the
// stop from outside the sandbox, and the screen fed to the live window and
// the web page (the page also gets the trace and the status).
#ifndef KVN_SIM_WINDOW_FEED_H
#define KVN_SIM_WINDOW_FEED_H

#include <string>

namespace kvn_sim {

// The launcher's end of the channel handed down through the sandbox, or
// -1 when the player was started inside the sandbox by hand.
int inherited_control_fd();

// What the launcher shows: the screen (a window or a web page), and the
// trace and status (a web page).
struct FeedKinds {
    bool screen = false;
    bool trace = false;
};

// Takes the launcher's messages; sends it the screen whenever it changes,
// and the trace and the status as they come, when it shows them.  False
// with `error` when they cannot be fed.
bool start_window_feed(int control_fd, FeedKinds kinds, const std::string &shots,
                       std::string &error);
void stop_window_feed();

// Keeps the trace lines from now on for the web page, until its feed
// starts and sends them.
void keep_trace_for_page();

// A trace line and the status for the web page; they never wait for it
// (a trace line goes nowhere when no page is fed).
void feed_trace_line(const char *line);
void feed_status(const std::string &status);

}  // namespace kvn_sim

#endif
