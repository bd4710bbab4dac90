/**
 * @file korvan_framework_dev.h
 * @brief Development aids of the framework library, for tests, benchmarks
 * and the player simulator; not part of the player's API.
 *
 * The library exports these functions beside its API, so that a program on
 * a development machine can call them in the library it runs against.  A
 * player's application never calls them: the player runs at the library's
 * defaults.
 *
 * The header compiles as C99 and as C++.
 */
#ifndef KORVAN_FRAMEWORK_DEV_H
#define KORVAN_FRAMEWORK_DEV_H

#ifdef __cplusplus
extern "C" {
#endif

/* Everything declared below is exported, beside korvan_framework_lib.h. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* ------------------------------------------------------------------ */
/** @defgroup kvn_time Time scale, for tests and the simulator
 *  @{ */

/**
 * For tests and the player simulator only: divides every wait of the
 * library (menu time-outs, countdown, standby passes, torrent script limit,
 * retries) by `divisor` and makes the clock that the key-sequence deadlines
 * read run `divisor` times faster.  The library never takes it from the
 * environment; a player keeps the default, 1, its real timing.
 * @param divisor the factor; 0 counts as 1
 * @par Threads
 * Any thread; set it before anything waits: a wait already under way keeps its length.
 */
void kvn_set_time_divisor(unsigned divisor);

/**
 * @return the factor set by kvn_set_time_divisor(), 1 by default.
 * @par Threads
 * Any thread.
 */
unsigned kvn_get_time_divisor(void);

/** @} */

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* KORVAN_FRAMEWORK_DEV_H */
