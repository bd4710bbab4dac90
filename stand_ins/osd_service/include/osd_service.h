/*
 * Stand-in for the player's on-screen dialog service.  It keeps the
 * connection-word rules of the real service and records every command; a
 * renderer (the player simulator's) can be put behind it to draw them.
 */
#ifndef OSD_SERVICE_H
#define OSD_SERVICE_H

#ifdef __cplusplus
extern "C" {
#endif

int osd_command(int owner, int *handle, int command, int flags, int mode, unsigned short length,
                const char *text);

typedef struct osd_call {
    int owner;
    int connection; /* the connection the command went on; 0 for a word never opened */
    int command;
    int flags;
    int mode;
    unsigned short length;
    char text[512]; /* the first `length` bytes of the text (cut at 511), NUL-terminated */
} osd_call;

/* Number of commands recorded since the last clear, and one of them. */
int osd_service_count(void);
int osd_service_get(int index, osd_call *out);
void osd_service_clear(void);

/* Number of connections open now. */
int osd_service_open_connections(void);

/* Called for every command after it is recorded, on the caller's thread. */
typedef void (*osd_renderer_fn)(const osd_call *call, void *data);
void osd_service_set_renderer(osd_renderer_fn renderer, void *data);

#ifdef __cplusplus
}
#endif

#endif
