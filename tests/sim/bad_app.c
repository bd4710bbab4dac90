/* Plug-ins that go wrong, one way per build (BAD_APP_crash, BAD_APP_return,
 * BAD_APP_silent at start; BAD_APP_thread later, in a thread it started
 * itself): the simulator must name them and end with its status instead
 * of hanging or dying unexplained.  BAD_APP_return first tries to write the
 * files named in KVN_BAD_APP_WRITES (apart by colons), as a plug-in that
 * wants out of the player would. */
#include <korvan_framework_lib.h>
#include <korvan_sim_app.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#if defined(BAD_APP_thread)
static void *stray_write(void *app) {
    while (!((const kvn_sim_app *)app)->stopping()) usleep(10000);
    /* A real fault in the plug-in's own code, without undefined behaviour. */
    volatile char *page = mmap(NULL, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *page = 1;
    return NULL;
}
#endif

#if defined(BAD_APP_return)
static void write_named_files(void) {
    const char *list = getenv("KVN_BAD_APP_WRITES");
    char *copy = strdup(list != NULL ? list : ""), *rest = copy, *path;
    while ((path = strtok_r(rest, ":", &rest)) != NULL) {
        FILE *file = fopen(path, "w");
        if (file != NULL) fclose(file);
    }
    free(copy);
}
#endif

int kvn_sim_app_main(const kvn_sim_app *app) {
#if defined(BAD_APP_crash)
    (void)app;
    raise(SIGSEGV); /* as a stray pointer would, without undefined behaviour */
    return 0;
#elif defined(BAD_APP_return)
    (void)app;
    write_named_files();
    return 7;
#elif defined(BAD_APP_thread)
    kvn_window r;
    memset(&r, 0, sizeof r);
    r.window_id = app->window_id;
    r.active = 1;
    r.opacity = 0xff;
    r.focus_on_window_callback = func_default_focus_on_window_callback;
    r.focus_next_window_callback = func_default_focus_next_window_callback;
    DFBWindowDescription desc;
    kvn_create_window_surface_events(&r, &desc, 0, 0, 64, 64, DWCAPS_NONE, 0);
    register_window(&r);
    pthread_t thread;
    pthread_create(&thread, NULL, stray_write, (void *)app);
    pthread_join(thread, NULL);
    unregister_window(&r);
    kvn_window_clean_up(&r);
    return 0;
#else
    while (!app->stopping()) usleep(10000);
    return 0;
#endif
}
