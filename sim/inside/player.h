// The player inside the sandbox: DirectFB, the applications in their
// threads, the platform made visible, the commands, and the ordered stop.
#ifndef KVN_SIM_PLAYER_H
#define KVN_SIM_PLAYER_H

#include "options.h"

namespace kvn_sim {

int run_player(const Options &options);

}  // namespace kvn_sim

#endif
