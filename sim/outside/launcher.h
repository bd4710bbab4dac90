// korvan-sim started outside the sandbox: checks what the run will need,
// starts the player inside kvn-sandbox, shows the live window and passes
// the player's exit status (and the sandbox's refusal) on.
#ifndef KVN_SIM_LAUNCHER_H
#define KVN_SIM_LAUNCHER_H

#include "options.h"

namespace kvn_sim {

int launch(const Options &options);

}  // namespace kvn_sim

#endif
