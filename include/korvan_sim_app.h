/**
 * @file korvan_sim_app.h
 * @brief An application of your own inside the player simulator.
 *
 * On the player, the user-interface applications are threads of one process
 * that all link libkorvan_framework_lib.  `korvan-sim --app NAME=PATH` gives
 * an application of yours the same place: it loads PATH, a shared object
 * built against the installed library, and calls its entry point
 * kvn_sim_app_main() in a thread of its own as the application NAME (a name
 * of window_id_str, for example PHOTO_PLAYER), in place of the simulator's
 * demo application of that name and beside the other demo applications.
 *
 * Build and run it with
 * @code
 * cc -shared -fPIC app.c $(pkg-config --cflags --libs korvan_framework_lib) -o app.so
 * korvan-sim --app PHOTO_PLAYER=./app.so
 * @endcode
 *
 * @par What the simulator has done when the entry point is called
 * DirectFB is started (kvn_dfb_init()), the OSD layer is set up
 * (kvn_layer_osd_init()) and both are in kvn_dfb_global_context; the
 * applications before NAME in the order BROWSER, ADVANCE_MEDIA_PLAYER,
 * PHOTO_PLAYER, SCREEN_SAVER, FLASH_LITE, TVMODE have registered their
 * windows.  Once every application has started, the focus goes to the
 * first application given with `--app` (or, when it cannot take it, to the
 * BROWSER).
 *
 * @par What the application does, as it would on the player
 * 1. It creates its window with kvn_create_window_surface_events() and
 *    registers it with register_window(), with `window_id` set to
 *    kvn_sim_app::window_id.  The simulator waits up to 5 seconds for that
 *    registration; an entry point that returns or crashes before it ends
 *    the simulator with exit status 4 and a message naming the application.
 * 2. It runs its event loop: it waits on its window's event buffer with
 *    WaitForEventWithTimeout for at most 100 ms at a time, handles its own
 *    keys and hands every other window event to kvn_default_event_handling();
 *    it leaves the loop when kvn_sim_app::stopping returns nonzero.  The
 *    simulator wakes the window's event buffer when it stops and gives the
 *    application 1.5 seconds to return.
 * 3. It calls unregister_window() and kvn_window_clean_up() for its window,
 *    and returns 0.  A crash after the start, in this thread or in a thread
 *    the application started itself, ends the simulator with exit status 5
 *    and a message naming the application.
 *
 * It must not call kvn_dfb_init(), kvn_layer_osd_init() or kvn_clean_up():
 * the display belongs to the simulator.  The TV key may keep the thread
 * inside kvn_default_event_handling() while the TV-mode menu runs, and the
 * power key for the whole standby when the application runs it; the
 * simulator ends both before it asks the application to stop.
 *
 * The header compiles as C99 and as C++.
 */
#ifndef KORVAN_SIM_APP_H
#define KORVAN_SIM_APP_H

#ifdef __cplusplus
extern "C" {
#endif

/** The version of kvn_sim_app; the structure grows only at its end. */
#define KVN_SIM_APP_VERSION 1

/** What the simulator hands to the entry point; valid until it returns. */
typedef struct kvn_sim_app {
    unsigned int version;  /**< KVN_SIM_APP_VERSION of the simulator */
    int window_id;         /**< the identifier the application runs as */
    const char *name;      /**< its name, `window_id_str[window_id]` */
    int screen_width;      /**< width of the OSD layer, in pixels */
    int screen_height;     /**< height of the OSD layer, in pixels */
    int (*stopping)(void); /**< returns nonzero once the simulator is stopping */
} kvn_sim_app;

/**
 * The entry point, exported under this name by the shared object.  Runs the
 * whole application in the calling thread.
 *
 * @param app what the application needs to start, and kvn_sim_app::stopping
 * @return 0 when the application ended normally; anything else is a failure,
 *         which the simulator reports (exit status 5).
 */
int kvn_sim_app_main(const kvn_sim_app *app);

/** The entry point's type, for the simulator's lookup. */
typedef int (*kvn_sim_app_main_fn)(const kvn_sim_app *app);

/** The entry point's name, for the simulator's lookup. */
#define KVN_SIM_APP_ENTRY "kvn_sim_app_main"

#ifdef __cplusplus
}
#endif

#endif /* KORVAN_SIM_APP_H */
