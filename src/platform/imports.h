/*
 * The platform as the framework calls it.  None of these has a body in the
 * library: the settings store, the dialog service, the output daemon client
 * and the screen-saver library are linked platform libraries, and the rest
 * is provided by the host process that loads the framework.
 */
#ifndef KVN_PLATFORM_PLATFORM_H
#define KVN_PLATFORM_PLATFORM_H

#ifdef __cplusplus
extern "C" {
#endif

/* Settings store (libflash_setting).  get_var_mem returns a heap copy that
 * the caller frees, or a null pointer when the key has no value.  Kind 0:
 * value is a string; kind 1: value points to an int. */
char *get_var_mem(const char *key);
int write_var(const char *key, const void *value, int kind);
int save_commit(void);

/* On-screen dialog service.  `handle` is the caller's connection word:
 * command -3 opens a connection into it, -2 closes it. */
int osd_command(int owner, int *handle, int command, int flags, int mode, unsigned short length,
                const char *text);

/* Output daemon client (libsmpoutd_api). */
int smpoutd_api_set_tvmode(int code);

/* Screen-saver library (libscreensaver). */
int scsvr_callback_window_switch(void);
int scsvr_global_on_off(int on);
int scsvr_return_last_window(void);

/* Provided by the process that loads the framework. */
int get_bgrun(void);
int AmpAPI_is_audio_type(void);
int VisualCtrl_Spawn(int mode);
int playback_setting_menu_spawn(void *focused_window);
int AmpAPI_PlayList_KeyTriggered_Stop(void);
int force_stop_pod(void);

#ifdef __cplusplus
}
#endif

#endif
