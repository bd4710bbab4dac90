/* Plug-ins that go wrong at start, one way per build (BAD_APP_crash,
 * BAD_APP_return, BAD_APP_silent): the simulator must name them and end
 * with its status instead of hanging. */
#include <signal.h>
#include <unistd.h>

#include <korvan_sim_app.h>

int kvn_sim_app_main(const kvn_sim_app *app) {
#if defined(BAD_APP_crash)
    (void)app;
    raise(SIGSEGV); /* as a stray pointer would, without undefined behaviour */
    return 0;
#elif defined(BAD_APP_return)
    (void)app;
    return 7;
#else
    while (!app->stopping()) usleep(10000);
    return 0;
#endif
}
