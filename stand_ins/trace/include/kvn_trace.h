/*
 * One ordered record of what the platform stand-ins saw (dialog commands,
 * output daemon codes, screen-saver and host calls).  Tests read it from
 * memory; the player simulator also has it appended to a file.
 */
#ifndef KVN_TRACE_H
#define KVN_TRACE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Appends one line (printf format, no line end needed). */
void kvn_trace(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* Number of lines recorded since the last clear. */
size_t kvn_trace_count(void);

/* Copies line `index` into `buffer` (always NUL-terminated); returns the
 * line's full length, or -1 when there is no such line. */
long kvn_trace_get(size_t index, char *buffer, size_t size);

void kvn_trace_clear(void);

/* Also append every line to this file (null: stop).  KVN_TRACE_FILE in the
 * environment sets it at load. */
void kvn_trace_set_file(const char *path);

/* Called with each line as it is recorded (null: none). */
typedef void (*kvn_trace_listener_fn)(const char *line, void *data);
void kvn_trace_set_listener(kvn_trace_listener_fn listener, void *data);

/* Called before each line is recorded, with no lock of the trace held, so
 * that it may first trace what happened before the line but is only seen in
 * a file (null: none).  It is called from the tracing thread, whatever locks
 * that holds; the lines it traces itself call it again, so it must not
 * recurse. */
typedef void (*kvn_trace_prelude_fn)(void *data);
void kvn_trace_set_prelude(kvn_trace_prelude_fn prelude, void *data);

#ifdef __cplusplus
}
#endif

#endif
