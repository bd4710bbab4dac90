// The resident memory of a process after the start-up, built twice: with
// the library (its start-up calls) and without it (the same calls made
// directly), both with the player's platform libraries loaded and nothing
// else, so that the difference is what the library adds.
#include <stdio.h>

#include "bench_common.h"
#ifdef KVN_RSS_WITH_LIBRARY
#include "korvan_framework_lib.h"
#endif

int main(int argc, char **argv) {
    bench_fixed_tvmode();
#ifdef KVN_RSS_WITH_LIBRARY
    kvn_dfb_context &c = kvn_dfb_global_context;
    kvn_dfb_init(&argc, &argv, &c.kvn_dfb, &c.kvn_screen);
    kvn_layer_osd_init(c.kvn_dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, nullptr, nullptr);
#else
    (void)argc;
    (void)argv;
    bench_bare_start();
#endif
    printf("RSS_KB %ld LIB_RSS_KB %ld\n", bench_resident_kb(nullptr),
           bench_resident_kb("libkorvan_framework_lib"));
    return 0;
}
