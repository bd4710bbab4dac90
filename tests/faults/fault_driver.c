/* One writer of the settings store under fault injection (fault_shim.c is
 * linked in): stores a new value, commits, and exits 3 when a descriptor
 * was left open, 4 when a call answered anything but 0 or -1. */
#include <dirent.h>
#include <stdlib.h>

#include "flash_setting.h"

static int descriptors(void) {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (d && readdir(d)) ++n;
    if (d) closedir(d);
    return n;
}

int main(int argc, char **argv) {
    const char *value = argc > 1 ? argv[1] : "2";
    /* The store keeps the file it parsed open for its cache: let it, before
     * counting. */
    int r[5] = {write_var("warm", "1", 0), save_commit()}, odd = 0;
    free(get_var_mem("a"));
    int before = descriptors();
    r[2] = write_var("a", value, 0);
    r[3] = write_var("b", value, 0);
    r[4] = save_commit();
    free(get_var_mem("a"));
    for (int i = 0; i < 5; ++i) odd |= r[i] != 0 && r[i] != -1;
    return descriptors() != before ? 3 : odd ? 4 : 0;
}
