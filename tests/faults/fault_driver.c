/* One writer of the settings store under fault injection (fault_shim.c is
 * linked in): stores a new value, commits, and exits 3 when a descriptor
 * was left open. */
#include <dirent.h>
#include <stdio.h>
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
    write_var("warm", "1", 0);
    save_commit();
    free(get_var_mem("a"));
    int before = descriptors();
    write_var("a", value, 0);
    write_var("b", value, 0);
    save_commit();
    free(get_var_mem("a"));
    return descriptors() == before ? 0 : 3;
}
