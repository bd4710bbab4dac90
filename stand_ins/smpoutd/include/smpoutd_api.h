/*
 * Stand-in for the output daemon's client library.  It records each mode
 * code; for the automatic mode (0) it plays the output side and writes the
 * name of the mode it picked to /tmp/tvname; 28 switches the picture off.
 */
#ifndef SMPOUTD_API_H
#define SMPOUTD_API_H

#ifdef __cplusplus
extern "C" {
#endif

int smpoutd_api_set_tvmode(int code);

/* The last code received (-1 before any), and whether a picture is shown. */
int smpoutd_stub_last_code(void);
int smpoutd_stub_picture_on(void);
/* Number of codes received, and code number `index` (-1 when none). */
int smpoutd_stub_count(void);
int smpoutd_stub_code(int index);
void smpoutd_stub_clear(void);

/* Name written to /tmp/tvname in the automatic mode; default "1080i59\n".
 * SMPOUTD_AUTO_NAME in the environment sets it at load (a line end is
 * added).  Null or "" writes no file, as an output side that has not yet
 * decided. */
void smpoutd_stub_set_auto_name(const char *name);

#ifdef __cplusplus
}
#endif

#endif
