// The player's side of the channel to the launcher: keys, shots and the
// stop from outside the sandbox, and the screen fed to the live window.
#ifndef KVN_SIM_WINDOW_FEED_H
#define KVN_SIM_WINDOW_FEED_H

#include <string>

namespace kvn_sim {

// The launcher's end of the channel handed down through the sandbox, or
// -1 when the player was started inside the sandbox by hand.
int inherited_control_fd();

// Takes the launcher's messages; with `window`, also sends the screen to
// the live window whenever it changes.  False with `error` when the window
// cannot be fed.
bool start_window_feed(int control_fd, bool window, const std::string &shots, std::string &error);
void stop_window_feed();

}  // namespace kvn_sim

#endif
