/*
 * Stand-in for the screen-saver library.  It records each call; what
 * scsvr_return_last_window answers is set by tests and the simulator.
 */
#ifndef SCREENSAVER_STUB_H
#define SCREENSAVER_STUB_H

#ifdef __cplusplus
extern "C" {
#endif

int scsvr_callback_window_switch(void);
int scsvr_global_on_off(int on);
int scsvr_return_last_window(void);

/* Identifier scsvr_return_last_window answers (default 3, the media player). */
void scsvr_stub_set_last_window(int window_id);
int scsvr_stub_switch_count(void); /* calls of scsvr_callback_window_switch */
int scsvr_stub_enabled(void);      /* last scsvr_global_on_off argument, 1 at load */
void scsvr_stub_reset(void);

#ifdef __cplusplus
}
#endif

#endif
