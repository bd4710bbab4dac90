// Carries out the script language's commands, from a script file or from
// standard input.
#ifndef KVN_SIM_COMMANDS_H
#define KVN_SIM_COMMANDS_H

#include <string>
#include <vector>

#include "sim_script.h"

namespace kvn_sim {

struct CommandContext {
    std::string shots;
    unsigned divisor = 1;
    std::string stored_shots;   // expect-shot's pictures
    bool update_shots = false;  // expect-shot stores the screen instead
};

// Runs the commands in order; stops at a quit, a failure or a stop request,
// but goes on after a screen that differs from its stored picture, so that
// one run shows every one.  Returns the exit status (0, 1 for a failed
// expectation, 3 when a command could not be carried out, 6 when a screen
// differed).
int run_commands(const std::vector<Command> &commands, const CommandContext &context);

// Reads commands from standard input until its end, a quit or a stop
// request; a malformed or overlong line is reported and skipped.  Returns
// 1 when an expectation failed, 6 when only screens differed, else 0; `quit` tells whether a quit
// or a stop ended it.
int run_standard_input(const CommandContext &context, bool &quit);

}  // namespace kvn_sim

#endif
