/*
 * libkorvan_framework_lib: the application framework shared by the player's
 * user-interface applications (browser, media player, photo player, screen
 * saver, flash player, TV-mode menu, ...).  They run in one process, one
 * thread and one DirectFB window each, and share through this library the
 * display context, the window list and focus, the thread list, the remote
 * keys that mean the same everywhere, and the TV output mode.
 *
 * Locking rules (read before writing a callback):
 *   - kvn_mutex_windows guards the window list and the focus words.  Focus
 *     operations and redirect_external_event run the records' callbacks with
 *     it held.  A callback (external_event_callback, focus_*_callback) must
 *     never call a window-list operation: the mutex is not recursive.  The
 *     library detects such a re-entry and aborts with a message instead of
 *     hanging.
 *   - kvn_mutex_threads guards the thread list; clean_threads runs the stop
 *     routines with it held, so a stop routine must not call a thread
 *     registry operation.
 *   - No operation holds two of the three mutexes.
 *
 * The header compiles as C99 and as C++.
 */
#ifndef KORVAN_FRAMEWORK_LIB_H
#define KORVAN_FRAMEWORK_LIB_H

#include <pthread.h>
#include <stdint.h>

#include <directfb.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* ------------------------------------------------------------------ */
/* Application identifiers (window_id of a window record).             */
/* ------------------------------------------------------------------ */
enum kvn_application_id {
    DUMMY1 = 0,
    DUMMY2 = 1,
    BROWSER = 2,
    ADVANCE_MEDIA_PLAYER = 3,
    PHOTO_PLAYER = 4,
    SCREEN_SAVER = 5,
    VISUAL_CONTROLLER = 6,
    PLAYLIST_NAVIGATOR = 7,
    FLASH_LITE = 8,
    FLASH_WIDGET = 9,
    TVMODE = 10
};
#define KVN_APPLICATION_COUNT 11

/* Names of the identifiers above, indexed by identifier. */
extern const char *window_id_str[KVN_APPLICATION_COUNT];

/* ------------------------------------------------------------------ */
/* Display context and start-up                                        */
/* ------------------------------------------------------------------ */
typedef struct kvn_dfb_context {
    uint32_t reserved_word0; /* kept for layout compatibility */
    uint32_t reserved_word1;
    IDirectFB *kvn_dfb;
    IDirectFBScreen *kvn_screen;
    IDirectFBDisplayLayer *kvn_layer_osd;
    DFBDisplayLayerConfig kvn_layer_osd_config;
    IDirectFBSurface *kvn_surface_osd;
    IDirectFBDisplayLayer *kvn_layer_background;
    DFBDisplayLayerConfig kvn_layer_background_config;
    IDirectFBSurface *kvn_surface_background_of_layer_background;
} kvn_dfb_context;

extern kvn_dfb_context kvn_dfb_global_context;

extern int kvn_global_state;
extern int thread_qty;
extern pthread_mutex_t kvn_mutex_state;
extern pthread_mutex_t kvn_mutex_windows;
extern pthread_mutex_t kvn_mutex_threads;

/* Read ends of /tmp/display, /tmp/kvn_framework_pipe, /tmp/kvnupnp_key_pipe. */
extern int outport_pipe;
extern int kvn_command_pipe;
extern int kvnupnp_key_pipe;

/* Storage for the applications' own function pointers; never read here. */
extern void *get_play_type_func_ptr;
extern void *get_media_space_func_ptr;
extern void *get_media_type_func_ptr;

int kvn_dfb_init(int *argc, char ***argv, IDirectFB **dfb, IDirectFBScreen **screen);

typedef int (*kvn_background_hook_fn)(IDirectFB *dfb, IDirectFBDisplayLayer *layer,
                                      DFBDisplayLayerConfig *config, void *data);

int kvn_layer_osd_init(IDirectFB *dfb, IDirectFBDisplayLayer **kvn_layer_osd,
                       DFBDisplayLayerConfig *kvn_layer_osd_config, void **background_hook_data,
                       kvn_background_hook_fn background_hook);
int kvn_layer_background_init(IDirectFB *dfb, IDirectFBDisplayLayer **kvn_layer_background,
                              DFBDisplayLayerConfig *kvn_layer_background_config,
                              IDirectFBSurface **kvn_surface_background_of_layer_background);
void kvn_confirm_virtual_screensize(void);
int kvn_layer_osd_clean_up(IDirectFBDisplayLayer *layer, IDirectFBSurface *surface);
int kvn_layer_background_clean_up(IDirectFBDisplayLayer *layer, IDirectFBSurface *surface);

/* Vendor background layer identifier. */
#define VENDOR_LAYER_BKGND 0

int kvn_clean_up(void);

/* ------------------------------------------------------------------ */
/* Windows                                                              */
/* ------------------------------------------------------------------ */
#define KVN_WINDOW_MAGIC 0x4B565001u

typedef struct kvn_invoke_args {
    int argc;    /* 0 to 14 */
    char **argv; /* 15 slots: the strings, then a null pointer */
} kvn_invoke_args;
#define KVN_INVOKE_MAX_ARGS 14

typedef struct kvn_window kvn_window;
typedef int (*kvn_external_event_fn)(DFBWindowEvent *event);
typedef int (*kvn_focus_callback_fn)(kvn_window *window);

struct kvn_window {
    uint32_t magic;
    int window_id;
    uint32_t reserved_word0;
    IDirectFBWindow *window;
    IDirectFBSurface *surface;
    IDirectFBEventBuffer *events;
    kvn_external_event_fn external_event_callback;
    uint32_t reserved_words1[3];
    kvn_focus_callback_fn focus_next_window_callback;
    kvn_focus_callback_fn focus_on_window_callback;
    kvn_invoke_args *invoke_args;
    int active;
    int on_focus;
    uint32_t reserved_word2;
    int osd_id;
    int hide_others;
    uint8_t opacity;
    uint32_t reserved_word3;
    kvn_window *next;
};

extern kvn_window *kvn_windows_head;
extern kvn_window *kvn_windows_end;

int register_window(kvn_window *window);
int unregister_window(kvn_window *window);
kvn_window *get_window_node(int window_id);
kvn_window *get_window_on_focus(void);
int is_self_on_focus(int window_id);
int check_window_is_active(int window_id);
int get_active_window_count(void);
int get_active_apps_count(void);

int focus_on_window(int window_id);
int focus_next_window(void);
int func_default_focus_next_window_callback(kvn_window *window);
int func_default_focus_on_window_callback(kvn_window *window);
int func_focus_next_window_ensure_subwindows_on_top_callback(kvn_window *window);
int func_focus_on_window_ensure_subwindows_on_top_callback(kvn_window *window);

int kvn_create_window_surface_events(kvn_window *kvn_window, DFBWindowDescription *desc, int posx,
                                     int posy, int width, int height, DFBWindowCapabilities caps,
                                     uint8_t opacity);
int kvn_window_clean_up(kvn_window *kvn_window);

/* Threads and surfaces */
typedef struct kvn_thread kvn_thread;
struct kvn_thread {
    uint32_t thread;
    void (*stop)(void);
    kvn_thread *next;
};
extern kvn_thread *kvn_threads_head;
extern kvn_thread *kvn_threads_end;

int register_thread(kvn_thread *thread);
int unregister_thread(kvn_thread *thread);
int unregister_threads(void);
int clean_threads(void);

typedef struct kvn_surface_node kvn_surface_node;
struct kvn_surface_node {
    IDirectFBSurface *surface;
    kvn_surface_node *next;
};
int register_surface(kvn_surface_node *head, kvn_surface_node *tail, kvn_surface_node *node);
int unregister_surface(kvn_surface_node *head, kvn_surface_node *tail, kvn_surface_node *node);
int register_surface_simple(kvn_surface_node **head, kvn_surface_node **tail,
                            IDirectFBSurface *surface);
int unregister_surface_simple(kvn_surface_node **head, kvn_surface_node **tail,
                              IDirectFBSurface *surface);
int clean_surfaces(kvn_surface_node *head);

/* Application launch and event forwarding */
int kvn_invoke_framework_apps(int window_id, const char *format, ...);
int kvnfw_send_event(int window_id, DFBInputDeviceKeySymbol key_symbol);
int redirect_external_event(kvn_window *self, DFBWindowEvent *event);

/* ------------------------------------------------------------------ */
/* Keys and power                                                       */
/* ------------------------------------------------------------------ */
int kvn_default_event_handling(kvn_window *window, DFBWindowEvent *event);
int kvn_get_standby_mode(void);
int kvn_standby_terminate_apps(void);
int machine_off(int commit, int script_arg);

extern int vctrl_osdfd;
extern char vctrl_osd_message[128];
extern int vctrl_osd_msg_len;

/* ------------------------------------------------------------------ */
/* TV output mode                                                       */
/* ------------------------------------------------------------------ */
int change_tvmode(int mode, int announce);
void check_tvmode_fifo(void);
int check_hdmi_state_changed(void);
int write_value_to_file(const char *path, int value);
int get_value_from_file(const char *path);
int init_video_config(void *context);
int init_audio_config(void);
int VideoOutputOnOff(int on, kvn_window *window);
void SwitchTvSystem(void);
int kvn_tvmode(kvn_window *window);

extern int current_fip_mode;

/* ------------------------------------------------------------------ */
/* Language                                                             */
/* ------------------------------------------------------------------ */
#define KVN_LANGUAGE_COUNT 26
int get_current_charset(void);

extern const char *lang_korvan_framework_no_music[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_not_allowed[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_TV_mode[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_TV_system[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_resolution[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_frequency[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_select[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_back[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_next[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_exit[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_apply_setting[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_yes[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_no[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_keep_setting[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_seconds[KVN_LANGUAGE_COUNT];
extern const char *lang_korvan_framework_invalid_mode[KVN_LANGUAGE_COUNT];
extern const char *lang_dsd_unknown_title[KVN_LANGUAGE_COUNT];
extern const char *lang_dsd_unknown_artist[KVN_LANGUAGE_COUNT];
extern const char *lang_navigator_genre[KVN_LANGUAGE_COUNT];
extern const char *lang_navigator_album[KVN_LANGUAGE_COUNT];
extern const char *lang_navigator_artist[KVN_LANGUAGE_COUNT];
extern const char *lang_navigator_nowplaying[KVN_LANGUAGE_COUNT];

/* ------------------------------------------------------------------ */
/* Time scale for development hosts                                     */
/* ------------------------------------------------------------------ */
/* Divides every wait of the library (menu time-outs, countdown, standby
 * passes, torrent script limit, retries) by `divisor` and makes the clock
 * that the key-sequence deadlines read run `divisor` times faster.  1, the
 * default, is the player's real timing.  The environment variable
 * KVN_TIME_DIVISOR sets the same at load. */
void kvn_set_time_divisor(unsigned divisor);
unsigned kvn_get_time_divisor(void);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* KORVAN_FRAMEWORK_LIB_H */
