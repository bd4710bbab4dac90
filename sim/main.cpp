// korvan-sim: runs the player's applications on the framework library, on
// real DirectFB, with the platform stand-ins around them made visible.
// Started by hand it launches itself inside the sandbox; there it is the
// player.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "korvan_framework_lib.h"
#include "launcher.h"
#include "messages.h"
#include "options.h"
#include "player.h"
#include "status.h"
#include "stop_signal.h"

int main(int argc, char **argv) {
    using namespace kvn_sim;
    // Outside the sandbox the player inside reports the stop itself.
    bool player = getenv("KVN_IN_SANDBOX") != nullptr;
    take_stop_signals(player);
    Options options;
    bool help = false;
    std::string error;
    if (!parse_options(std::vector<std::string>(argv + 1, argv + argc), options, help, error)) {
        tell(error);
        fputs(usage_text().c_str(), stderr);
        return kStatusBadInput;
    }
    if (help) {
        fputs(usage_text().c_str(), stdout);
        return kStatusOk;
    }
    if (options.version) {
        // The library's own version is the one loaded, which may be newer
        // than the one the simulator was built with.
        int library = kvn_get_version();
        printf("korvan-sim %s (libkorvan_framework_lib %d.%d.%d)\n", KVN_VERSION_STRING,
               library / 10000, library / 100 % 100, library % 100);
        return kStatusOk;
    }
    // A power key in standby runs reboot and shutdown programs: never let
    // that reach the user's machine.
    return player ? run_player(options) : launch(options);
}
