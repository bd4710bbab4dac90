// Process exit: undoes start-up and the layer set-up in reverse order, so
// that threads that may still draw stop before the layers go and the main
// interface goes last.
#include <unistd.h>

#include "korvan_framework_lib.h"

extern "C" int kvn_clean_up(void) {
    // outport_pipe stays open: other programs may still be writing mode
    // commands, and the process exit closes it.
    if (kvn_command_pipe >= 0) close(kvn_command_pipe);
    kvn_command_pipe = -1;
    if (kvnupnp_key_pipe >= 0) close(kvnupnp_key_pipe);
    kvnupnp_key_pipe = -1;

    clean_threads();
    unregister_threads();

    kvn_dfb_context &ctx = kvn_dfb_global_context;
    kvn_layer_osd_clean_up(ctx.kvn_layer_osd, ctx.kvn_surface_osd);
    kvn_layer_background_clean_up(ctx.kvn_layer_background,
                                  ctx.kvn_surface_background_of_layer_background);

    if (ctx.kvn_screen != nullptr) {
        ctx.kvn_screen->Release(ctx.kvn_screen);
        ctx.kvn_screen = nullptr;
    }
    if (ctx.kvn_dfb != nullptr) {
        ctx.kvn_dfb->Release(ctx.kvn_dfb);
        ctx.kvn_dfb = nullptr;
    }
    return 0;
}
