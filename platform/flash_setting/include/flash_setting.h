/*
 * The player's settings store: a small key/value store whose committed
 * values survive power cuts.
 *
 * Every process that links it sees a value as soon as write_var returns;
 * save_commit makes all values durable.  Keys are non-empty text without
 * '=', line ends or NUL; values are text without line ends.
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
 * call in the process), else /opt/kvn/var/flash_setting.db.  Beside it live
 * "<path>.live" (the values written since the last commit are there too)
 * and "<path>.lock". */
const char *flash_setting_path(void);

#ifdef __cplusplus
}
#endif

#endif
