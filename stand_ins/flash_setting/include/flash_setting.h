/*
 * The player's settings store: a small key/value store shared by every
 * process of the machine, whose committed values survive power cuts.
 *
 * Every process sees a value as soon as write_var returns; save_commit
 * makes every value written so far durable.  Keys are non-empty text,
 * values any text; the keys and values of a store total at most 16 MiB.
 * The store is one SQLite database; a path that holds anything else (a
 * link, a FIFO, a folder, a file that is not such a database) is refused
 * with a message and left as it is.
 *
 * Each call is recorded in the stand-ins' trace (kvn_trace.h):
 * "flash write_var KEY=VALUE" and "flash save_commit", with " failed"
 * added when the call returned -1 (line ends in KEY and VALUE shown as
 * \n and \r, values cut after 200 bytes with "...").
 */
#ifndef FLASH_SETTING_H
#define FLASH_SETTING_H

#ifdef __cplusplus
extern "C" {
#endif

/* Heap copy of the value (the caller frees it), or NULL when the key has
 * no value or the store cannot be read. */
char *get_var_mem(const char *key);

/* kind 0: value is a NUL-terminated string stored verbatim; kind 1: value
 * points to an int, read back as its decimal text.  0 or -1. */
int write_var(const char *key, const void *value, int kind);

/* Makes every value durable.  0 or -1. */
int save_commit(void);

/* The store's database: $FLASH_SETTING_FILE (read at the first call in the
 * process), else /opt/kvn/var/flash_setting.db.  The first write makes it
 * and its folders: the database 0640 and its own folder 0750, so that no user
 * but the owner and the group (the peers that read settings) opens its files. */
const char *flash_setting_path(void);

#ifdef __cplusplus
}
#endif

#endif
