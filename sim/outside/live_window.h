// The desktop window that shows the player live, outside the sandbox, with
// the keyboard as the remote.
#ifndef KVN_SIM_LIVE_WINDOW_H
#define KVN_SIM_LIVE_WINDOW_H

#include <string>

namespace kvn_sim {

class PlayerLink;

// Opens the window; false with `error` when no window can be opened.
bool open_live_window(std::string &error);

// Shows the player's screen and sends it the keys pressed until the player
// ends the channel.  Closing the window requests the stop (request_stop),
// which the launcher passes on.
void run_live_window(PlayerLink &link);

}  // namespace kvn_sim

#endif
