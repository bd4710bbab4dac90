/*
 * Stand-in for the functions that the process loading the framework must
 * provide (the media player's and photo player's entry points, the visual
 * controller launcher, the photo player's background-run state).  Each
 * call is traced; answers and side effects are set by tests and the
 * player simulator.
 */
#ifndef HOST_STUB_H
#define HOST_STUB_H

#ifdef __cplusplus
extern "C" {
#endif

int get_bgrun(void);
int AmpAPI_is_audio_type(void);
int VisualCtrl_Spawn(int mode);
int playback_setting_menu_spawn(void *focused_window);
int AmpAPI_PlayList_KeyTriggered_Stop(void);
int force_stop_pod(void);

void host_stub_set_bgrun(int value);      /* default 0 */
void host_stub_set_audio_type(int value); /* default 1 */

/* Side effects run after the call is traced (null: none); the simulator
 * uses them to stop its players. */
typedef void (*host_stub_action_fn)(void *data);
void host_stub_on_playlist_stop(host_stub_action_fn action, void *data);
void host_stub_on_force_stop_pod(host_stub_action_fn action, void *data);
void host_stub_on_visual_controller(host_stub_action_fn action, void *data);

/* How often each entry point was called since the last reset. */
int host_stub_calls(const char *function_name);
void host_stub_reset(void);

#ifdef __cplusplus
}
#endif

#endif
