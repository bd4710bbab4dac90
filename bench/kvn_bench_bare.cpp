// The resident memory of a process that starts DirectFB without the library
// but with the player's platform libraries, for the memory the library adds.
#include <stdio.h>

#include "bench_common.h"

int main() {
    bench_bare_directfb_start();
    printf("RSS_KB %ld\n", bench_resident_kb(nullptr));
    return 0;
}
