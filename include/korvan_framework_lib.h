/**
 * @file korvan_framework_lib.h
 * @brief The application framework shared by the player's user-interface
 * applications (browser, media player, photo player, screen saver, flash
 * player, TV-mode menu, ...).
 *
 * The applications run in one process, one thread and one DirectFB window
 * each, and share through this library the display context, the window list
 * and focus, the thread list, the remote-control keys that mean the same
 * everywhere, and the TV output mode.  The library starts no thread of its
 * own: every operation runs in the caller's thread.
 *
 * @par Start and stop of an application
 * In this order: kvn_dfb_init(), kvn_layer_osd_init(), optionally
 * kvn_layer_background_init() and kvn_confirm_virtual_screensize(),
 * kvn_create_window_surface_events(), register_window(), the
 * application's event loop, which hands the events it does not consume to
 * kvn_default_event_handling(), unregister_window(),
 * kvn_window_clean_up(), kvn_clean_up().  The start-up and layer
 * operations must be given the addresses of the fields of
 * ::kvn_dfb_global_context: every other operation reads the display
 * context from there, so passing other variables leaves it empty and later
 * calls crash.
 *
 * @par DirectFB failures end the process
 * Every DirectFB call the library makes is checked.  A failure prints
 * "korvan_framework_lib <LINE>:" to standard error and ends the process
 * through DirectFBErrorFatal with the text of the failed call; no operation
 * returns a DirectFB error to its caller.
 *
 * @par Locking rules (read before writing a callback)
 * - ::kvn_mutex_windows guards the window list and the focus words.  Focus
 *   operations and redirect_external_event() run the records' callbacks
 *   with it held.  A callback (kvn_window::external_event_callback,
 *   kvn_window::focus_next_window_callback,
 *   kvn_window::focus_on_window_callback) must never call a window-list
 *   operation: the mutex is not recursive.  The library detects such a
 *   re-entry and aborts with a message instead of hanging.
 * - ::kvn_mutex_threads guards the thread list; clean_threads() runs the
 *   stop routines with it held, so a stop routine must not call a thread
 *   registry operation.
 * - No operation holds two of the three mutexes.
 *
 * @par Threads and shared data
 * Each operation says under "Threads" whether two threads may call it at
 * once.  In short: the window-list, focus and forwarding operations are
 * serialised by ::kvn_mutex_windows and the thread registry by
 * ::kvn_mutex_threads; start-up, the layer operations and clean-up run in
 * one thread while no other uses the library; the surface lists have no
 * lock.  These exported globals are plain data without a lock:
 * - ::vctrl_osdfd, ::vctrl_osd_message and ::vctrl_osd_msg_len, written by
 *   every "No music started" notice: two notices at once share them;
 * - ::current_fip_mode, written by every TV-mode menu that ends;
 * - ::kvn_dfb_global_context and the pipe descriptors ::outport_pipe,
 *   ::kvn_command_pipe and ::kvnupnp_key_pipe, written by start-up and
 *   clean-up only;
 * - ::get_play_type_func_ptr, ::get_media_space_func_ptr and
 *   ::get_media_type_func_ptr, the applications' own.
 *
 * ::kvn_global_state and ::thread_qty are guarded by ::kvn_mutex_state, the
 * list heads and tails by their lists' mutexes: hold the mutex to read
 * them.  The standby flag is not exported: kvn_get_standby_mode() reads it
 * atomically.  The focus operations read a record's `active`, `opacity` and
 * `hide_others` under ::kvn_mutex_windows: change them in a registered
 * record with that mutex held (a window callback already holds it), and
 * call no window-list operation meanwhile.
 *
 * @par Ownership
 * The application owns its window, thread and surface-node records; the
 * library links them into its lists but never frees them.  The library owns
 * the DirectFB references in ::kvn_dfb_global_context until kvn_clean_up().
 *
 * The header compiles as C99 and as C++.
 */
#ifndef KORVAN_FRAMEWORK_LIB_H
#define KORVAN_FRAMEWORK_LIB_H

#include <directfb.h>
#include <pthread.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Everything declared below, and nothing else, is exported. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* ------------------------------------------------------------------ */
/** @defgroup kvn_version Version
 *  The header's version, fixed at compile time, and the version of the
 *  library loaded at run time.  The major number is the shared library's
 *  soname: a program built against 1.x runs on every later 1.y.
 *  @{ */

/** Major version of this header (the soname's number). */
#define KVN_VERSION_MAJOR 1
/** Minor version of this header: additions that keep compatibility (0 to 99). */
#define KVN_VERSION_MINOR 0
/** Patch version of this header: fixes only (0 to 99). */
#define KVN_VERSION_PATCH 0
/** The version of this header as text, "MAJOR.MINOR.PATCH". */
#define KVN_VERSION_STRING "1.0.0"
/** A version as one number that grows with every release: 10203 for 1.2.3. */
#define KVN_VERSION_NUMBER(major, minor, patch) ((major)*10000 + (minor)*100 + (patch))
/** The version of this header as one number (::KVN_VERSION_NUMBER). */
#define KVN_VERSION KVN_VERSION_NUMBER(KVN_VERSION_MAJOR, KVN_VERSION_MINOR, KVN_VERSION_PATCH)

/**
 * The version of the library loaded at run time, which may be newer than
 * the header the program was compiled with.
 * @return the version as ::KVN_VERSION_NUMBER makes it: 10000 for 1.0.0.
 * @par Threads
 * Any thread, at any time, also before kvn_dfb_init().
 */
int kvn_get_version(void);

/** @} */

/* ------------------------------------------------------------------ */
/** @defgroup kvn_apps Application identifiers
 *  @{ */

/** The application a window record belongs to (kvn_window::window_id). */
enum kvn_application_id {
    DUMMY1 = 0,               /**< not treated specially by the library */
    DUMMY2 = 1,               /**< not treated specially by the library */
    BROWSER = 2,              /**< the web browser */
    ADVANCE_MEDIA_PLAYER = 3, /**< the media player */
    PHOTO_PLAYER = 4,         /**< the photo player */
    SCREEN_SAVER = 5,         /**< the screen saver */
    VISUAL_CONTROLLER = 6,    /**< the visual controller */
    PLAYLIST_NAVIGATOR = 7,   /**< the playlist navigator */
    FLASH_LITE = 8,           /**< the flash player; it runs the standby for most applications */
    FLASH_WIDGET = 9,         /**< the flash widget host */
    TVMODE = 10               /**< the TV-mode menu application */
};
/** Number of application identifiers, and of entries of ::window_id_str. */
#define KVN_APPLICATION_COUNT 11

/** Names of the identifiers, indexed by identifier ("DUMMY1" ... "TVMODE").
 *  The library never reads the table. */
extern const char *window_id_str[KVN_APPLICATION_COUNT];

/** @} */

/* ------------------------------------------------------------------ */
/** @defgroup kvn_context Display context, start-up and clean-up
 *  @{ */

/** The one process-wide display context (::kvn_dfb_global_context).  Each
 *  pointer holds one DirectFB reference, released by kvn_clean_up(). */
typedef struct kvn_dfb_context {
    uint32_t reserved_word0;     /**< not used by the library; kept for layout compatibility */
    uint32_t reserved_word1;     /**< not used by the library; kept for layout compatibility */
    IDirectFB *kvn_dfb;          /**< the DirectFB main interface, set by kvn_dfb_init() */
    IDirectFBScreen *kvn_screen; /**< the primary screen, set by kvn_dfb_init() */
    IDirectFBDisplayLayer *kvn_layer_osd;       /**< the primary layer on which every window is
                                                     created, set by kvn_layer_osd_init() */
    DFBDisplayLayerConfig kvn_layer_osd_config; /**< the OSD layer's configuration as last read
                                                     or set; its size is the default window size */
    IDirectFBSurface *kvn_surface_osd; /**< a surface of the OSD layer if the application got
                                            one; released by kvn_clean_up() */
    IDirectFBDisplayLayer *kvn_layer_background;                  /**< the background layer, set by
                                                                       kvn_layer_background_init() */
    DFBDisplayLayerConfig kvn_layer_background_config;            /**< the background layer's
                                                                       configuration */
    IDirectFBSurface *kvn_surface_background_of_layer_background; /**< the background
                                                                       layer's surface */
} kvn_dfb_context;

/** The display context every operation reads.  Zero until kvn_dfb_init();
 *  its fields are written only by the start-up and layer operations, to
 *  which the application passes their addresses. */
extern kvn_dfb_context kvn_dfb_global_context;

/** Framework state word: reset to 0 by kvn_dfb_init() under
 *  ::kvn_mutex_state; otherwise the applications'. */
extern int kvn_global_state;
/** Thread counter: reset to 0 by kvn_dfb_init() under ::kvn_mutex_state;
 *  otherwise the applications'. */
extern int thread_qty;
/** Guards ::kvn_global_state and ::thread_qty (default, non-recursive). */
extern pthread_mutex_t kvn_mutex_state;
/** Guards the window list and the focus words (default, non-recursive). */
extern pthread_mutex_t kvn_mutex_windows;
/** Guards the thread list (default, non-recursive). */
extern pthread_mutex_t kvn_mutex_threads;

/** Read end of the TV-mode command FIFO /tmp/display (non-blocking), read
 *  by check_tvmode_fifo(); -1 if it could not be opened. */
extern int outport_pipe;
/** Read end of the framework event FIFO /tmp/kvn_framework_pipe
 *  (non-blocking): the application reads the "swf=<event>change_tvmode</event>..."
 *  lines that change_tvmode() writes; closed by kvn_clean_up(). */
extern int kvn_command_pipe;
/** Read end of the key FIFO /tmp/kvnupnp_key_pipe (non-blocking), for the
 *  application; closed by kvn_clean_up(). */
extern int kvnupnp_key_pipe;

/** Storage for an application's function pointer; the library never reads it. */
extern void *get_play_type_func_ptr;
/** Storage for an application's function pointer; the library never reads it. */
extern void *get_media_space_func_ptr;
/** Storage for an application's function pointer; the library never reads it. */
extern void *get_media_type_func_ptr;

/**
 * Starts DirectFB and the framework's named pipes.  Call it once per
 * process, first, before any other operation and before any thread that
 * uses the library starts.
 *
 * Resets ::kvn_global_state and ::thread_qty, initialises and creates
 * DirectFB, takes screen 0, creates the FIFOs /tmp/display,
 * /tmp/kvn_framework_pipe and /tmp/kvnupnp_key_pipe (an existing one is
 * reused) and opens them for non-blocking reading into ::outport_pipe,
 * ::kvn_command_pipe and ::kvnupnp_key_pipe, never through a link and
 * close-on-exec; a pipe that cannot be opened (-1) or is no FIFO is said
 * once, on standard error.  A DirectFB failure ends the process.
 *
 * @param argc   the application's argument count; DirectFB may take its own
 *               options out of the arguments
 * @param argv   the application's arguments
 * @param dfb    must be `&kvn_dfb_global_context.kvn_dfb`
 * @param screen must be `&kvn_dfb_global_context.kvn_screen`
 * @return 0, always.
 * @par Threads
 * Once, in the main thread, before any other thread uses the library: it writes the display
 * context and the pipe descriptors without a lock.
 */
int kvn_dfb_init(int *argc, char ***argv, IDirectFB **dfb, IDirectFBScreen **screen);

/** The application's own set-up of the OSD layer's background, called by
 *  kvn_layer_osd_init() in place of the transparent black default; its
 *  result is ignored.  It gets the DirectFB main interface, the OSD layer,
 *  the layer's configuration and the pointer stored at the
 *  `background_hook_data` address. */
typedef int (*kvn_background_hook_fn)(IDirectFB *dfb, IDirectFBDisplayLayer *layer,
                                      DFBDisplayLayerConfig *config, void *data);

/**
 * Sets up the OSD layer (the primary layer, on which every window is
 * created) and applies the stored video configuration.
 *
 * Takes the primary layer in administrative mode unless `*kvn_layer_osd` is
 * already set, reads its configuration, sets its background (through the
 * hook, or transparent black), then seeds /tmp/tvmode from the settings
 * store if the file is missing (init_video_config()).  May be called again:
 * it then reuses the layer.  A DirectFB failure ends the process.
 *
 * @param dfb                  `kvn_dfb_global_context.kvn_dfb`
 * @param kvn_layer_osd        must be `&kvn_dfb_global_context.kvn_layer_osd`
 * @param kvn_layer_osd_config must be `&kvn_dfb_global_context.kvn_layer_osd_config`
 * @param background_hook_data address of the pointer handed to the hook, or null
 * @param background_hook      the application's background set-up, or null;
 *                             used only when both hook and data are given
 * @return 0, always.
 * @par Threads
 * At start-up, in one thread, after kvn_dfb_init() and before windows are created: it writes
 * the display context without a lock.
 */
int kvn_layer_osd_init(IDirectFB *dfb, IDirectFBDisplayLayer **kvn_layer_osd,
                       DFBDisplayLayerConfig *kvn_layer_osd_config, void **background_hook_data,
                       kvn_background_hook_fn background_hook);

/**
 * Sets up the vendor's background layer once: enables the primary layer in
 * screen mixer 0, takes the background layer exclusively, renders
 * /desktop.png onto it if it loads, and draws three lines of key help in
 * /opt/kvn/share/fonts/decker.ttf.  The surface is not flipped.
 *
 * A DirectFB failure ends the process, and so does a screen without a
 * mixer (DirectFB's dummy system, for one).
 *
 * @param dfb                        `kvn_dfb_global_context.kvn_dfb`
 * @param kvn_layer_background        must be `&kvn_dfb_global_context.kvn_layer_background`
 * @param kvn_layer_background_config must be `&kvn_dfb_global_context.kvn_layer_background_config`
 * @param kvn_surface_background_of_layer_background must be
 *        `&kvn_dfb_global_context.kvn_surface_background_of_layer_background`
 * @return 0; -1, doing nothing, when the layer pointer is already set or the
 *         surface address is null, and (with a message) before
 *         kvn_dfb_init().
 * @par Threads
 * At start-up, in one thread: its test for a layer already set up is no lock, and two calls at
 * once would both set it up.
 */
int kvn_layer_background_init(IDirectFB *dfb, IDirectFBDisplayLayer **kvn_layer_background,
                              DFBDisplayLayerConfig *kvn_layer_background_config,
                              IDirectFBSurface **kvn_surface_background_of_layer_background);

/**
 * Forces the OSD layer to a 1280x720 virtual screen when the stored TV mode
 * (settings key `video_output`) is 0, automatic, and the output side has
 * named the mode it chose (/tmp/tvname is a regular file); otherwise does
 * nothing.  Needs kvn_layer_osd_init() first: before it, it says so and does
 * nothing.  A DirectFB failure ends the process.
 * @par Threads
 * At start-up, in one thread, after kvn_layer_osd_init().
 */
void kvn_confirm_virtual_screensize(void);

/**
 * Releases an OSD layer's surface, then the layer; null pointers are
 * skipped and the caller's pointers are not cleared.  kvn_clean_up() calls
 * it.
 * @param layer   the layer, or null
 * @param surface the layer's surface, or null
 * @return 0, always.
 * @par Threads
 * At exit, in the thread that runs kvn_clean_up(), once no other thread draws.
 */
int kvn_layer_osd_clean_up(IDirectFBDisplayLayer *layer, IDirectFBSurface *surface);

/**
 * Releases the background layer's surface, then the layer; null pointers are
 * skipped and the caller's pointers are not cleared.  kvn_clean_up() calls
 * it.
 * @param layer   the layer, or null
 * @param surface the layer's surface, or null
 * @return 0, always.
 * @par Threads
 * At exit, in the thread that runs kvn_clean_up(), once no other thread draws.
 */
int kvn_layer_background_clean_up(IDirectFBDisplayLayer *layer, IDirectFBSurface *surface);

/** The DirectFB layer identifier of the vendor's background layer. */
#define VENDOR_LAYER_BKGND 0

/**
 * The one exit operation, called once on the main thread at process exit,
 * after the application has unregistered and cleaned up its windows and
 * every other thread has stopped using the library.
 *
 * Closes ::kvn_command_pipe and ::kvnupnp_key_pipe, runs the stop routine
 * of every registered thread (clean_threads()) and forgets them, releases
 * both layers with their surfaces, then the screen and the main interface
 * (those two fields become null).  No operation may run afterwards.
 *
 * @return 0, always.
 * @par Threads
 * Once, in the main thread, last: no other thread may use the library meanwhile or afterwards.
 */
int kvn_clean_up(void);

/** @} */

/* ------------------------------------------------------------------ */
/** @defgroup kvn_windows Windows, focus and applications
 *  @{ */

/** Stored in kvn_window::magic when the record's DirectFB objects are created. */
#define KVN_WINDOW_MAGIC 0x4B565001u

/** The string arguments last handed to an application by
 *  kvn_invoke_framework_apps(); allocated by the library on first use and
 *  never freed. */
typedef struct kvn_invoke_args {
    int argc;    /**< number of strings, 0 to ::KVN_INVOKE_MAX_ARGS */
    char **argv; /**< 15 slots: private copies of the strings, then a null pointer */
} kvn_invoke_args;
/** At most this many strings are kept in a ::kvn_invoke_args. */
#define KVN_INVOKE_MAX_ARGS 14

/** A window record. */
typedef struct kvn_window kvn_window;

/**
 * An application's handler of events that another application did not want
 * (redirect_external_event()).  Runs with ::kvn_mutex_windows held: it must
 * not call a window-list operation.
 * @return 0 when it consumed the event; any other value passes it on.
 */
typedef int (*kvn_external_event_fn)(DFBWindowEvent *event);

/**
 * Called on the record that a focus operation has just focused.  Runs with
 * ::kvn_mutex_windows held: it must not call a window-list operation.  The
 * result is ignored.
 */
typedef int (*kvn_focus_callback_fn)(kvn_window *window);

/**
 * One application window, allocated and owned by the application.  The
 * application fills the identity, flags, callbacks and opacity, has the
 * DirectFB objects created by kvn_create_window_surface_events(), then
 * registers the record with register_window().  The library never frees a
 * record.
 */
struct kvn_window {
    uint32_t magic;          /**< ::KVN_WINDOW_MAGIC once the DirectFB objects were created */
    int window_id;           /**< the application (::kvn_application_id); lookups by identifier find
                                  the first registered record with it */
    uint32_t reserved_word0; /**< not used by the library; kept for layout compatibility */
    IDirectFBWindow *window; /**< the DirectFB window, created by
                                  kvn_create_window_surface_events() */
    IDirectFBSurface *surface;    /**< the window's surface, created with it */
    IDirectFBEventBuffer *events; /**< the window's event buffer, created with it; other
                                       applications post keys here */
    kvn_external_event_fn external_event_callback; /**< offered the events other
                                                        applications did not want, or null */
    uint32_t reserved_words1[3]; /**< not used by the library; kept for layout compatibility */
    kvn_focus_callback_fn focus_next_window_callback; /**< called after focus_next_window()
                                                           focused this record, or null */
    kvn_focus_callback_fn focus_on_window_callback;   /**< called after focus_on_window()
                                                           focused this record, or null */
    kvn_invoke_args *invoke_args; /**< the arguments last handed to this application, set by
                                       kvn_invoke_framework_apps(); null until then */
    int active;                   /**< nonzero: the application is active and may take the focus */
    int on_focus;            /**< nonzero: this record has the focus.  Set it with `active` before
                                  register_window() to take the focus at registration; the focus
                                  operations write 0 and 1 afterwards */
    uint32_t reserved_word2; /**< not used by the library; kept for layout compatibility */
    int osd_id;      /**< owner passed to the dialog service for dialogs shown on behalf of this
                          window */
    int hide_others; /**< nonzero: the other windows are hidden when this one is focused
                          (with exceptions between applications) */
    uint8_t opacity; /**< opacity the window gets when it takes the focus; 0: it can never
                          take the focus */
    uint32_t reserved_word3; /**< not used by the library; kept for layout compatibility */
    kvn_window *next;        /**< next record of the window list, null at the tail; written by the
                                  list operations */
};

/** First registered window record, or null. */
extern kvn_window *kvn_windows_head;
/** Last registered window record, or null. */
extern kvn_window *kvn_windows_end;

/**
 * Appends a record to the window list; if its `active` and `on_focus` are
 * both set, then gives it the focus with focus_on_window().
 * @param window the application's record, not yet registered
 * @return 0; -1 for a null record or one that is already registered.
 * @par Threads
 * Any thread, at the same time as other window-list operations: they are serialised by
 * ::kvn_mutex_windows.  Never from a window callback (the process stops with a message) nor
 * while the caller holds ::kvn_mutex_windows itself (it would deadlock).
 */
int register_window(kvn_window *window);

/**
 * Removes a record from the window list and hides its window (opacity 0).
 * If it had the focus, the first remaining active record with a nonzero
 * opacity gets it (none when the visual controller's record leaves during a
 * standby).  The DirectFB objects stay; release them with
 * kvn_window_clean_up().  A DirectFB failure ends the process.
 * @param window a registered record
 * @return 0; -1 when the list is empty or the record is not in it.
 * @par Threads
 * Any thread, serialised with the other window-list operations by ::kvn_mutex_windows; never
 * from a window callback.
 */
int unregister_window(kvn_window *window);

/**
 * @param window_id an application identifier
 * @return the first registered record with that identifier, or null.  It
 *         stays valid while it remains registered.
 * @par Threads
 * Any thread, serialised by ::kvn_mutex_windows; never from a window callback.  The record is
 * read afterwards without the lock: its owner may change `active` meanwhile.
 */
kvn_window *get_window_node(int window_id);

/**
 * @return the first registered record whose `on_focus` is set, or null.
 * @par Threads
 * Any thread, serialised by ::kvn_mutex_windows; never from a window callback.
 */
kvn_window *get_window_on_focus(void);

/**
 * @param window_id an application identifier
 * @return 1 if its first record has the focus, 0 if not, -1 if no record
 *         has the identifier.
 * @par Threads
 * Any thread, serialised by ::kvn_mutex_windows; never from a window callback.
 */
int is_self_on_focus(int window_id);

/**
 * @param window_id an application identifier
 * @return 1 if its first record is active, 0 if not, -1 if no record has
 *         the identifier.
 * @par Threads
 * Any thread, serialised by ::kvn_mutex_windows; never from a window callback.
 */
int check_window_is_active(int window_id);

/**
 * @return the number of registered records whose `active` is nonzero.
 * @par Threads
 * Any thread, serialised by ::kvn_mutex_windows; never from a window callback.
 */
int get_active_window_count(void);

/** @return how many of BROWSER, PLAYLIST_NAVIGATOR, PHOTO_PLAYER and
 *          FLASH_LITE have a first record whose `active` is exactly 1 (0 to 4).
 * @par Threads
 * Any thread; it looks each application up under ::kvn_mutex_windows in turn, so with records
 * changing meanwhile the count is of no single moment.  Never from a window callback.
 */
int get_active_apps_count(void);

/**
 * Gives the focus to an application and applies the visibility rules
 * between applications: with the target's `hide_others` set the other
 * windows are hidden, except the photo player under the flash player while
 * it runs in the background, the previous application under the flash
 * widget, and the media player (and the flash player, when the focus came
 * from it or the photo player) under the screen saver.  When the focus
 * passes to another application the screen-saver service and the dialog
 * service are told.  The window is shown with its `opacity` if it was
 * hidden, given the input focus and raised; then its
 * `focus_on_window_callback` runs.  BROWSER falls back to FLASH_LITE when
 * no browser is registered.
 *
 * Holds ::kvn_mutex_windows throughout, callback included.  A DirectFB
 * failure ends the process.
 *
 * @param window_id an application identifier
 * @return 0; -1, changing nothing, when no record has the identifier or
 *         its first record is inactive or has opacity 0.
 * @par Threads
 * Any thread: two focus changes at once are serialised by ::kvn_mutex_windows, and the later
 * one wins.  Never from a window callback.
 */
int focus_on_window(int window_id);

/**
 * Moves the focus from the focused record to the first other record in
 * registration order that is active with a nonzero opacity (so with three
 * or more such windows the focus alternates between the first two), without
 * the rules between applications; hides every other window if the new
 * one's `hide_others` is set, shows, focuses and raises it, then runs its
 * `focus_next_window_callback`.  Holds ::kvn_mutex_windows throughout.  A
 * DirectFB failure ends the process.
 * @return 0, also when no other record could take the focus; -1 when the
 *         list is empty or no record has `on_focus` equal to 1.
 * @par Threads
 * Any thread, serialised with the other window-list operations by ::kvn_mutex_windows; never
 * from a window callback.
 */
int focus_next_window(void);

/**
 * Default kvn_window::focus_next_window_callback: calls
 * func_focus_next_window_ensure_subwindows_on_top_callback().
 * @param window the record just focused
 * @return 0.
 * @par Threads
 * Called by focus_next_window() with ::kvn_mutex_windows held.
 */
int func_default_focus_next_window_callback(kvn_window *window);
/**
 * Default kvn_window::focus_on_window_callback: calls
 * func_focus_on_window_ensure_subwindows_on_top_callback().
 * @param window the record just focused
 * @return 0.
 * @par Threads
 * Called by focus_on_window() with ::kvn_mutex_windows held.
 */
int func_default_focus_on_window_callback(kvn_window *window);
/**
 * Hook for keeping an application's subwindows on top after
 * focus_next_window(); the library's does nothing.
 * @param window the record just focused
 * @return 0.
 * @par Threads
 * Called with ::kvn_mutex_windows held.
 */
int func_focus_next_window_ensure_subwindows_on_top_callback(kvn_window *window);
/**
 * Hook for keeping an application's subwindows on top after
 * focus_on_window(); the library's does nothing.
 * @param window the record just focused
 * @return 0.
 * @par Threads
 * Called with ::kvn_mutex_windows held.
 */
int func_focus_on_window_ensure_subwindows_on_top_callback(kvn_window *window);

/**
 * Creates a record's DirectFB window on the OSD layer (ARGB, double
 * buffered), its surface and its event buffer; clears the surface to
 * transparent black, flips it once and sets the window's opacity.  Writes
 * the record's `magic`, `window`, `surface` and `events` only.  Needs
 * kvn_layer_osd_init() first.  A DirectFB failure ends the process.
 *
 * @param kvn_window the application's record
 * @param desc       filled completely by the call (nothing is read from it)
 * @param posx       position on the layer
 * @param posy       position on the layer
 * @param width      width, or 0 for the OSD layer's width
 * @param height     height, or 0 for the OSD layer's height
 * @param caps       DirectFB window capabilities
 * @param opacity    the window's initial opacity (0: invisible until focused)
 * @return 0, always.
 * @par Threads
 * Any thread, for its own record, after kvn_layer_osd_init(); several applications may create
 * their windows at once.
 */
int kvn_create_window_surface_events(kvn_window *kvn_window, DFBWindowDescription *desc, int posx,
                                     int posy, int width, int height, DFBWindowCapabilities caps,
                                     uint8_t opacity);

/**
 * Releases a record's event buffer, surface and window, in that order, and
 * sets each field to null; null fields are skipped, so a second call does
 * nothing.  Unregister the record first.
 * @param kvn_window the application's record
 * @return 0, always.
 * @par Threads
 * The record's own thread, after unregister_window().  kvn_invoke_framework_apps() and
 * kvnfw_send_event() post into the record's event buffer after they let the window list go:
 * release it only once no other application may still send to it.
 */
int kvn_window_clean_up(kvn_window *kvn_window);

/** A registered thread, allocated and owned by the application. */
typedef struct kvn_thread kvn_thread;
/** A registered thread. */
struct kvn_thread {
    uint32_t thread;    /**< the application's thread identifier; not interpreted */
    void (*stop)(void); /**< stops the thread; called by clean_threads() with
                             ::kvn_mutex_threads held, or null */
    kvn_thread *next;   /**< next record, null at the tail; written by the registry */
};
/** First registered thread record, or null. */
extern kvn_thread *kvn_threads_head;
/** Last registered thread record, or null. */
extern kvn_thread *kvn_threads_end;

/**
 * Appends a record to the thread list.
 * @param thread the application's record
 * @return 0; -1 for a null record.
 * @par Threads
 * Any thread, serialised by ::kvn_mutex_threads; never from a stop routine.
 */
int register_thread(kvn_thread *thread);
/**
 * Removes a record from the thread list.
 * @param thread a registered record
 * @return 0; -1 when the list is empty or the record is not in it.
 * @par Threads
 * Any thread, serialised by ::kvn_mutex_threads; never from a stop routine.
 */
int unregister_thread(kvn_thread *thread);
/**
 * Forgets every registered thread without stopping it.
 * @return 0.
 * @par Threads
 * Any thread, serialised by ::kvn_mutex_threads; never from a stop routine.
 */
int unregister_threads(void);
/**
 * Calls the stop routine of every registered thread, in registration
 * order, with ::kvn_mutex_threads held, then empties the list.  A stop
 * routine (and the thread it stops) must not call a thread registry
 * operation meanwhile.
 * @return -1, always.
 * @par Threads
 * Any thread, serialised by ::kvn_mutex_threads; kvn_clean_up() calls it at exit.
 */
int clean_threads(void);

/** A node of a surface list; the caller keeps the list's head and tail. */
typedef struct kvn_surface_node kvn_surface_node;
/** A node of a surface list. */
struct kvn_surface_node {
    IDirectFBSurface *surface; /**< the registered surface */
    kvn_surface_node *next;    /**< next node, null at the tail */
};
/**
 * Links a caller-allocated node behind the caller's tail (nothing is linked
 * into an empty list); the caller then makes the node its tail, and its
 * head if the list was empty.  No lock: the caller serialises each list.
 * @param head the list's first node, or null for an empty list
 * @param tail the list's last node
 * @param node the new node
 * @return 0; -1 for a null node.
 * @par Threads
 * No lock: one thread at a time per list; different lists in different threads at once.
 */
int register_surface(kvn_surface_node *head, kvn_surface_node *tail, kvn_surface_node *node);
/**
 * Unlinks a caller-allocated node; for the head node nothing changes (the
 * caller moves its head on), for the tail the caller makes the predecessor
 * its tail.  Nothing is freed or released.
 * @param head the list's first node
 * @param tail the list's last node
 * @param node the node to remove
 * @return 0; -1 when the head is null or the node is not in the list.
 * @par Threads
 * No lock: one thread at a time per list.
 */
int unregister_surface(kvn_surface_node *head, kvn_surface_node *tail, kvn_surface_node *node);
/**
 * Appends a surface to a list whose nodes the library allocates, updating
 * the caller's head and tail pointers.  No lock.
 * @param head address of the caller's head pointer
 * @param tail address of the caller's tail pointer
 * @param surface the surface; not released by the list
 * @return 0; -1 for a null surface or when no node can be allocated.
 * @par Threads
 * No lock: one thread at a time per list.
 */
int register_surface_simple(kvn_surface_node **head, kvn_surface_node **tail,
                            IDirectFBSurface *surface);
/**
 * Removes the first node holding a surface from a list made by
 * register_surface_simple(), updating the caller's head and tail pointers,
 * and frees the node; the surface is not released.
 * @param head address of the caller's head pointer
 * @param tail address of the caller's tail pointer
 * @param surface the surface
 * @return 0; -1 when the head address is null, the list is empty or no
 *         node holds the surface.
 * @par Threads
 * No lock: one thread at a time per list.
 */
int unregister_surface_simple(kvn_surface_node **head, kvn_surface_node **tail,
                              IDirectFBSurface *surface);
/**
 * Releases every non-null surface of a list made by
 * register_surface_simple() and frees its nodes; the caller then sets its
 * head and tail pointers to null.
 * @param head the list's first node
 * @return -1, always.
 * @par Threads
 * No lock: one thread at a time per list.
 */
int clean_surfaces(kvn_surface_node *head);

/**
 * Hands string arguments to another application and wakes it: the strings
 * given by the format's conversions (every conversion but <tt>\%d</tt> takes a
 * string; <tt>\%d</tt> takes an int, which is skipped) are copied into the
 * target's kvn_window::invoke_args, at most ::KVN_INVOKE_MAX_ARGS of them,
 * and the key DIKS_CUSTOM0 is posted to its event buffer.  The target must
 * have finished reading the previous arguments.
 * @param window_id the target application
 * @param format    the conversions, for example <tt>\%s\%d\%s</tt>
 * @return 0; 1 when no record has the identifier; -1 when memory for the
 *         holder cannot be allocated.  With no event buffer the arguments
 *         wait in the record and 0 is returned.
 * @par Threads
 * Any thread: two senders to the same application are serialised by ::kvn_mutex_windows, and
 * the later one's arguments are what the target finds.  Never from a window callback.
 */
int kvn_invoke_framework_apps(int window_id, const char *format, ...);

/**
 * Posts a key-down event with the key to an application's window event
 * buffer and wakes it; returns at once.
 * @param window_id  the target application
 * @param key_symbol the key
 * @return 0; -1 when no record has the identifier or it has no event buffer.
 * @par Threads
 * Any thread, at the same time as others; never from a window callback.
 */
int kvnfw_send_event(int window_id, DFBInputDeviceKeySymbol key_symbol);

/**
 * Offers an event to the kvn_window::external_event_callback of every other
 * registered record, in registration order, until one consumes it; the
 * consumed event's `type` and `key_symbol` are then set to 0.  The handlers
 * run with ::kvn_mutex_windows held.
 * @param self  the calling application's record (skipped), or null
 * @param event the event
 * @return 0 when a handler consumed it; -1 otherwise, event unchanged.
 * @par Threads
 * Any thread, serialised with the window-list operations by ::kvn_mutex_windows; never from a
 * window callback.
 */
int redirect_external_event(kvn_window *self, DFBWindowEvent *event);

/** @} */

/* ------------------------------------------------------------------ */
/** @defgroup kvn_keys Keys and power
 *  @{ */

/**
 * The framework's handling of the remote-control keys that mean the same
 * in every application.  Call it from the application's event loop with
 * the application's own record for each window event it does not consume.
 *
 * A result of -1 means the event is not the framework's: the application
 * handles it.  A result of 0 means the key is one of the framework's, and
 * the event is either consumed (its `type` and `key_symbol` set to 0: the
 * application does nothing more with it) or kept as it was.  Before it
 * looks at the key, the handler
 * - returns -1 for a null record or event, and for an event that is not a
 *   key-down, the event kept;
 * - consumes every event, key or not, and returns 0 while
 *   /tmp/vmk_installing exists (software being installed);
 * - consumes every key of the table but the power keys and the last row,
 *   doing nothing, and returns 0 while a standby runs or a power key is on
 *   its way to one (kvn_get_standby_mode() is 1).
 *
 * The keys (DIKS_ names without the prefix):
 *
 * | Key | Value | Result | Event | What the handler does |
 * |---|---|---|---|---|
 * | `q`, `s`, `Q`, `S` | 0x71, 0x73, 0x51, 0x53 | 0 | kept | nothing: reserved |
 * | SHUFFLE, SWAP | 0xF058, 0xF069 | 0 | kept | nothing: reserved |
 * | POWER, and the second power code | 0xF00F, 0xF072 | 0 | note 1 | standby (note 1) |
 * | REDIAL | 0xF06F | 0 | kept | power-off: machine_off(1, 0) |
 * | HOME, PROGRAM | 0xF005, 0xF018 | 0 | note 2 | the visual controller (note 2) |
 * | LANGUAGE, the music key | 0xF01E | 0 | note 3 | the visual controller or a notice (note 3) |
 * | TV | 0xF027 | 0 | note 4 | the TV-mode menu or a notice (note 4) |
 * | SETUP | 0xF063 | 0 | note 5 | the media player's settings menu (note 5) |
 * | CALL | 0xF06C | 0 | note 6 | "Not allowed" (note 6) |
 * | any other, HOLD (0xF071) too | | -1 | kept | nothing |
 *
 * 1. The standby runs in this call, or the key is handed to the flash
 *    player (see Blocking); the event is consumed when this call ran the
 *    standby, else kept.  An auto-repeat (DWEF_REPEAT set), the key still
 *    held, does nothing.
 * 2. With at least two of BROWSER, PLAYLIST_NAVIGATOR, PHOTO_PLAYER and
 *    FLASH_LITE active, and the media player not active or playing audio
 *    (`AmpAPI_is_audio_type()`): starts the visual controller
 *    (`VisualCtrl_Spawn(1)`), consumed.  Otherwise nothing, kept.
 * 3. With a window focused and the media player registered: active and
 *    playing audio, starts the visual controller (`VisualCtrl_Spawn(0)`),
 *    consumed; active and not playing audio, nothing, kept; inactive, shows
 *    "No music started" on the focused window, kept.  Otherwise nothing,
 *    kept.
 * 4. The browser or the flash player focused: runs the TV-mode menu,
 *    kvn_tvmode() with the caller's record, consumed.  Another application
 *    focused: shows "Not allowed" on it, consumed.  None: nothing, kept.
 * 5. The media player focused: opens its playback settings menu
 *    (`playback_setting_menu_spawn()` with its record), consumed.
 *    Otherwise nothing, kept.
 * 6. An application focused: shows "Not allowed" on it, consumed.  None:
 *    nothing, kept.
 *
 * The notices are dialog commands in the language of get_current_charset().
 * DIKS_HOLD counts only inside a standby, where it wakes the player.
 *
 * @par Blocking
 * The call runs its work in the caller's thread:
 * - the TV key runs the TV-mode menu (kvn_tvmode()) until it ends: up to
 *   10 s after the last key on its pages, plus about 22 s of countdown
 *   after a new mode is confirmed; in the flash player it then runs a
 *   standby that another application handed over meanwhile;
 * - the power key in the flash player, in the media player, or in the
 *   screen saver after the media player runs the whole standby and returns
 *   only when the player wakes up (or is being rebooted or powered off);
 *   in the flash player that includes waiting up to 10 s for the media and
 *   photo players to stop and up to about a minute for the torrent
 *   daemon's script.  In other applications the power key switches the
 *   picture off, hands the key to the flash player and returns at once
 *   (it runs the standby itself when no flash player is registered, and
 *   a later power key runs the flash player's whole standby once a key
 *   handed to the flash player has waited there for 3 s);
 * - DIKS_REDIAL waits for the shutdown script.
 *
 * @param window the calling application's registered record
 * @param event  the window event; set to type 0 and key 0 when consumed
 * @return -1 when the event is not a key-down of a framework key (the
 *         application handles it); 0 for a framework key, the event
 *         consumed (type 0) or left as it was for the application to see.
 * @par Threads
 * Every application's loop calls it, at the same time as the others; this is what it is for.
 * Two power keys at once start one standby; two notices at once share the unguarded
 * ::vctrl_osdfd, ::vctrl_osd_message and ::vctrl_osd_msg_len; a shutdown script runs once at a
 * time.
 */
int kvn_default_event_handling(kvn_window *window, DFBWindowEvent *event);

/** @return 1 while a power key is being handled or a standby is under way,
 *          else 0.
 * @par Threads
 * Any thread, at any time: the flag is read atomically.
 */
int kvn_get_standby_mode(void);

/**
 * Stops the media player's playlist (when the playlist navigator is active
 * and the media player is active without the focus) and the photo player's
 * playback, each after waiting up to 5 s (20 waits of 250 ms) for the application
 * to turn inactive.  The flash player's standby calls it; it blocks for up
 * to 10 s.
 * @return 1, always.
 * @par Threads
 * Any thread; the flash player's standby calls it.
 */
int kvn_standby_terminate_apps(void);

/**
 * Powers the player off: front panel to the off state, optionally commits
 * the settings, syncs and switches the picture off, then runs
 * /etc/shutdown.sh in a child process and waits for it.
 * @param commit     nonzero: commit the settings, sync and blank first
 * @param script_arg nonzero: pass the argument "1" to the script
 * @return the `waitpid` result for the script's process; -1 when no
 *         process could be started.
 * @par Threads
 * Any thread: two calls at once run the script one after the other.
 */
int machine_off(int commit, int script_arg);

/** Connection word of the dialog service for the default handler's "No
 *  music started" notice.  Written by every such notice, in whichever
 *  application's thread, without a lock. */
extern int vctrl_osdfd;
/** Text of the last "No music started" notice ("-msg=" and the message).
 *  Written by every such notice without a lock. */
extern char vctrl_osd_message[128];
/** Length of ::vctrl_osd_message's text.  Written by every such notice
 *  without a lock. */
extern int vctrl_osd_msg_len;

/** @} */

/* ------------------------------------------------------------------ */
/** @defgroup kvn_tvmode TV output mode
 *  TV mode codes: 0 automatic, 1 480i, 2 576i, 3 480p, 4 576p, 5 and 6
 *  720p at 60 and 50 Hz, 7 and 8 1080i at 60 and 50 Hz, 9, 10 and 11 1080p
 *  at 60, 50 and 24 Hz, 20, 21 and 22 4K at 30, 25 and 24 Hz; 28 switches
 *  the picture off.
 *  @{ */

/**
 * Changes the television output mode: writes the code to /tmp/tvmode
 * (codes 0 and above), tells the dialog service, writes a
 * "swf=<event>change_tvmode</event>..." line to /tmp/kvn_framework_pipe and
 * asks the output daemon to switch.  Runs the shell once and waits for it.
 * @param mode     a TV mode code; every code is passed on to the daemon
 * @param announce 1: also show the mode's label on screen and commit the
 *                 settings store; any other value: neither
 * @return 0, always.
 * @par Threads
 * Any thread, but two changes at the same moment are not serialised: /tmp/tvmode, the event
 * line and the output daemon may each end with a different one of the two modes.
 */
int change_tvmode(int mode, int announce);

/**
 * Handles at most one command from /tmp/display ("tv=" and a mode word such
 * as "720p60" or "auto", optionally with "save" to store it under
 * `video_output`): switches with change_tvmode() and writes the reply
 * ("tv=720p", ...) to /tmp/tolu_cgi, waiting up to 3 s for room in a full
 * FIFO.  Commands are lines, taken one per call in order: a part is kept
 * until its line end arrives (or its writer closes the pipe), and a line
 * longer than 60 bytes is dropped whole.  Returns at once when no whole
 * command is there, or while another thread is carrying one out.  A FIFO
 * at /tmp/tolu_cgi whose reader is away is waited for, up to 3 s; a command
 * that finds no reader by then, or /tmp/tolu_cgi missing or a link, is
 * dropped.  Poll it from the application's loop.
 * @par Threads
 * Any thread: while one thread carries a command out, a call in another returns at once, so
 * commands are carried out one at a time and in order.
 */
void check_tvmode_fifo(void);

/**
 * Follows up an HDMI change signalled by /tmp/hdmi_changed: in the
 * automatic mode it writes "tv=auto" to /tmp/tolu_cgi (waiting up to 3 s
 * for the FIFO's reader) and removes the marker; a marker that cannot be
 * removed is answered once.  Poll it from the application's loop:
 * /tmp/tvmode is read again only when it changed.
 * @return the mode code in /tmp/tvmode when it is not 0 (-1 for a missing
 *         or empty file); -1 when there is no marker, or while another
 *         thread is answering it; otherwise the result of the shell command
 *         that removed it (0 on success).
 * @par Threads
 * Any thread: a marker is answered once, whichever threads poll it.
 */
int check_hdmi_state_changed(void);

/**
 * Writes a number into a small file through the shell ("echo \"N\" > PATH")
 * and waits for it.
 * @param path  the file; a plain path (letters, digits, '/', '.', '_', '-'),
 *              short enough for a 30-character command
 * @param value the number
 * @return the result of `system`; -1 without running anything (and with a
 *         message) for a path that is unsafe or too long, or where something
 *         other than a plain file with one name is: a link, a FIFO, a folder.
 * @par Threads
 * Any thread; two writes of the same file at once leave one of the two values.
 */
int write_value_to_file(const char *path, int value);

/**
 * Reads the decimal number at the start of a small file (at most its first
 * 10 bytes).
 * @param path the file
 * @return the number (0 for text without digits); -1 when the file cannot
 *         be opened, is no regular file (a FIFO is not waited on), is empty,
 *         or holds a number beyond the range of int.
 * @par Threads
 * Any thread.
 */
int get_value_from_file(const char *path);

/**
 * Seeds /tmp/tvmode, when it is missing (or holds -1), from the settings
 * key `video_output` (0, automatic, when that is missing too), and stores
 * the value back under the key.  kvn_layer_osd_init() calls it.
 * @param context ignored
 * @return 0, always.
 * @par Threads
 * At start-up, in one thread (kvn_layer_osd_init() calls it).
 */
int init_video_config(void *context);

/**
 * Does nothing; kvn_layer_osd_init() calls it.
 * @return 0.
 * @par Threads
 * Any thread.
 */
int init_audio_config(void);

/**
 * Switches the picture off (output code 28) or back on to the mode
 * recorded in /tmp/tvmode, through the output daemon; prints "Turn ON the
 * display" and "tvmode :N" (N the code sent), or "Turn OFF the display", to
 * standard output.  A missing or empty file sends -1; a recorded number
 * that names no picture (28, another negative number, a code without a
 * mode, a number beyond int) sends the stored `video_output` if that names
 * a picture, else 0, so that switching on always brings a picture back.
 * @param on     1: on; any other value: off
 * @param window ignored
 * @return 0, always.
 * @par Threads
 * Any thread; two calls at the same moment reach the output daemon in either order.
 */
int VideoOutputOnOff(int on, kvn_window *window);

/**
 * Flips the stored TV system (settings key `tv_system`) between "PAL" and
 * "NTSC", moves the stored mode to its twin of the other frame-rate family
 * (720p at 60 Hz to 720p at 50 Hz and back, and so on; modes without a
 * twin become automatic) and
 * switches to it with change_tvmode().  Does nothing when `video_output`
 * is not stored or holds a number beyond the range of int; stores the new mode but switches nothing
 * when `tv_system` is not stored.  Does not commit the settings store.
 * @par Threads
 * One thread at a time: it reads, changes and writes back the stored settings without a lock,
 * so two switches at once may count as one.
 */
void SwitchTvSystem(void);

/**
 * Runs the TV-mode menu in the caller's thread, drawn by the dialog service
 * and driven by the keys of the caller's window event buffer (which it
 * consumes): resolution, frequency and confirmation pages, digit and colour
 * keys that select a mode at once, and a "Keep current setting?" countdown
 * from 20 after a mode is confirmed, which falls back to the starting mode
 * unless the user confirms it again.
 *
 * Blocks until the menu ends: up to 10 s after the last key on its pages,
 * plus about 22 s of countdown, plus up to 3 s for each reply whose reader
 * at /tmp/tolu_cgi is away.
 * @param window the record whose event buffer delivers the keys
 * @return 0, always.
 * @par Threads
 * The thread that reads the window's event buffer, as its loop does: the menu consumes that
 * buffer's events.  One menu at a time in the process: two would draw over each other through
 * the dialog service.
 */
int kvn_tvmode(kvn_window *window);

/** Set to 28 whenever the TV-mode menu leaves normally (not on its time-out),
 *  without a lock; the library never reads it. */
extern int current_fip_mode;

/** @} */

/* ------------------------------------------------------------------ */
/** @defgroup kvn_lang Language
 *  Tables of UTF-8 texts with one entry per interface language, indexed by
 *  get_current_charset(); languages without a text of their own show the
 *  English one.
 *  @{ */

/** Number of interface languages, and of entries of every string table. */
#define KVN_LANGUAGE_COUNT 26

/**
 * Reads the interface language from the settings store (key `lang`) at
 * every call.
 * @return the language index 0 to 25 ("english_lang" 0, "chinese_lang" 1,
 *         "chinese_lang_trad" 2, ... "romanian_lang" 25); 0 for a missing
 *         or unknown name.
 * @par Threads
 * Any thread.
 */
int get_current_charset(void);

extern const char *lang_korvan_framework_no_music[KVN_LANGUAGE_COUNT];    /**< "No music started" */
extern const char *lang_korvan_framework_not_allowed[KVN_LANGUAGE_COUNT]; /**< "Not allowed" */
extern const char *lang_korvan_framework_TV_mode[KVN_LANGUAGE_COUNT];     /**< "TV Mode" */
extern const char *lang_korvan_framework_TV_system[KVN_LANGUAGE_COUNT];   /**< "TV System" */
extern const char *lang_korvan_framework_resolution[KVN_LANGUAGE_COUNT];  /**< "Resolution" */
extern const char *lang_korvan_framework_frequency[KVN_LANGUAGE_COUNT];   /**< "Frequency" */
extern const char *lang_korvan_framework_select[KVN_LANGUAGE_COUNT];      /**< "Select" */
extern const char *lang_korvan_framework_back[KVN_LANGUAGE_COUNT];        /**< "Back" */
extern const char *lang_korvan_framework_next[KVN_LANGUAGE_COUNT];        /**< "Next" */
extern const char *lang_korvan_framework_exit[KVN_LANGUAGE_COUNT];        /**< "Exit" */
extern const char *lang_korvan_framework_apply_setting[KVN_LANGUAGE_COUNT]; /**< "Apply Setting?" */
extern const char *lang_korvan_framework_yes[KVN_LANGUAGE_COUNT];           /**< "Yes" */
extern const char *lang_korvan_framework_no[KVN_LANGUAGE_COUNT];            /**< "No" */
extern const char
    *lang_korvan_framework_keep_setting[KVN_LANGUAGE_COUNT]; /**< "Keep current setting?" */
extern const char *lang_korvan_framework_seconds[KVN_LANGUAGE_COUNT];      /**< "seconds" */
extern const char *lang_korvan_framework_invalid_mode[KVN_LANGUAGE_COUNT]; /**< "Invalid mode" */
extern const char
    *lang_dsd_unknown_title[KVN_LANGUAGE_COUNT]; /**< "Unknown Title", for other applications */
extern const char
    *lang_dsd_unknown_artist[KVN_LANGUAGE_COUNT]; /**< "Unknown Artist", for other applications */
extern const char *lang_navigator_genre[KVN_LANGUAGE_COUNT]; /**< "GENRE", for other applications */
extern const char *lang_navigator_album[KVN_LANGUAGE_COUNT]; /**< "ALBUM", for other applications */
extern const char
    *lang_navigator_artist[KVN_LANGUAGE_COUNT]; /**< "ARTIST", for other applications */
extern const char
    *lang_navigator_nowplaying[KVN_LANGUAGE_COUNT]; /**< "NOW PLAYING", for other applications */

/** @} */

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* KORVAN_FRAMEWORK_LIB_H */
