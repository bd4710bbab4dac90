/* Plug-ins that go wrong, one way per build (BAD_APP_crash, BAD_APP_return, BAD_APP_silent at
 * start; BAD_APP_thread later, in a thread it started itself): the simulator must name them and end
 * with its status instead of hanging or dying unexplained.  BAD_APP_return first tries to write the
 * files named in KVN_BAD_APP_WRITES (apart by colons), as a plug-in that wants out would. */
#include <korvan_framework_lib.h>
#include <korvan_sim_app.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

__attribute__((unused)) static void *stray_write(void *app) {
    while (!((const kvn_sim_app *)app)->stopping()) usleep(10000);
    /* A real fault in the plug-in's own code, without undefined behaviour. */
    volatile char *page = mmap(NULL, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *page = 1;
    return NULL;
}

int kvn_sim_app_main(const kvn_sim_app *app) {
#if defined(BAD_APP_crash)
    raise(SIGSEGV); /* as a stray pointer would, without undefined behaviour */
#elif defined(BAD_APP_return)
    char *copy = strdup(getenv("KVN_BAD_APP_WRITES") ? getenv("KVN_BAD_APP_WRITES") : ""), *path;
    for (char *rest = copy; (path = strtok_r(rest, ":", &rest)) != NULL;) {
        FILE *file = fopen(path, "w");
        if (file != NULL) fclose(file);
    }
    free(copy);
    return 7;
#elif defined(BAD_APP_thread)
    kvn_window r = {.window_id = app->window_id, .active = 1, .opacity = 0xff};
    r.focus_on_window_callback = func_default_focus_on_window_callback;
    r.focus_next_window_callback = func_default_focus_next_window_callback;
    DFBWindowDescription desc;
    kvn_create_window_surface_events(&r, &desc, 0, 0, 64, 64, DWCAPS_NONE, 0);
    register_window(&r);
    pthread_t thread;
    pthread_create(&thread, NULL, stray_write, (void *)app);
    pthread_join(thread, NULL);
#endif
    while (!app->stopping()) usleep(10000);
    return 0;
}
