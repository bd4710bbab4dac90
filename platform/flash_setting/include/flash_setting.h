/*
 * The player's settings store: a small key/value store whose committed
 * values survive power cuts.
 *
 * Every process that links it sees a value as soon as write_var returns;
 * save_commit makes all values durable.  Keys are non-empty text without
 * '=', line ends or NUL; values are text without line ends; a store holds
 * at most 16 MiB.
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
 * no value. */
char *get_var_mem(const char *key);

/* kind 0: value is a NUL-terminated string stored verbatim; kind 1: value
 * points to an int, read back as its decimal text.  0 or -1. */
int write_var(const char *key, const void *value, int kind);

/* Makes every value durable.  0 or -1. */
int save_commit(void);

/* The committed store file in use: $FLASH_SETTING_FILE (read at the first
 * call in the process), else /opt/kvn/var/flash_setting.db.  Beside it
 * lives "<path>.lock". */
const char *flash_setting_path(void);

/* The live copy: the file in memory that holds every value in force,
 * uncommitted ones too, while there is one (a reboot or power cut loses
 * it, and the committed values hold again).  The first writer of a store
 * puts it in $FLASH_SETTING_RUN_DIR (read at the first call; default
 * /run/kvn-flash-setting; empty or unusable: "<path>.live") and names it on
 * the first line of the lock file, for the life of the lock file.  NULL
 * while no writer has named it. */
const char *flash_setting_live_path(void);

#ifdef __cplusplus
}
#endif

#endif
