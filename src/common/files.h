// The small files, markers and pipes under /tmp that the library shares with
// the player's other programs.  /tmp is writable by every user of the box and
// the library runs as root, so whatever sits at one of these paths may be a
// link, a FIFO, a folder or a file of any size.  Nothing here waits without
// bound on what it finds, writes through a link, or reads without bound.
#ifndef KVN_COMMON_FILES_H
#define KVN_COMMON_FILES_H

#include <stddef.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace kvn {

// What a reader found at a path.
enum class Found { kNothing, kRegular, kOther };

// Opens the regular file at `path` for reading (a link to one is followed).
// Never blocks: a FIFO or device is opened without waiting and then refused.
// Returns the descriptor, or -1 with `found` telling whether nothing was
// there (or it could not be opened) or something that is no regular file.
int open_regular(const char *path, Found *found, struct stat *info = nullptr);

// Reads at most `capacity` bytes from the start of the regular file at
// `path`.  Returns the number of bytes, or -1 as open_regular.
ssize_t read_regular(const char *path, char *buffer, size_t capacity, Found *found = nullptr,
                     struct stat *info = nullptr);

// Opens an existing FIFO for writing, or also a regular file with a single
// name when `regular_too`; never creates, never follows a link, never waits
// for a reader.  -1 when nothing (or no reader) is there; when something of
// the wrong kind is there, -1 after a message naming `who`.
int open_for_writing(const char *path, bool regular_too, const char *who);

// As open_for_writing, but a FIFO that has no reader yet is waited for, up
// to `timeout_ms` of player time, polling: a blocking open could not be
// bounded.  -1 with errno ENXIO when no reader came.
int open_for_a_reader(const char *path, bool regular_too, const char *who, unsigned timeout_ms);

// Writes all of `data` to a non-blocking descriptor, waiting up to
// `timeout_ms` of player time while a pipe is full.  False when it could not.
bool write_fully(int fd, const void *data, size_t size, unsigned timeout_ms);

// Writes the small file at `path` as the design's shell commands would
// (`echo N > PATH`, `touch PATH`), but by the library itself and without a
// name that can be swapped between a check and the write: the file is
// opened once, without following a link and without waiting, created (mode
// 0666 less the umask) when missing, and written only when what was opened
// is a regular file with a single name, root's or the effective user's.
// With `data`, its `size` bytes become the whole content; without, only the
// file's times are set to now.  Returns 0; -1 after a message naming `who`
// when something else is there (a link, a folder, a FIFO, a device, a
// second name, another user's file); kCannotCreate after a message when
// the file cannot be opened or written at all (say, its folder is missing).
constexpr int kCannotCreate = 2 << 8;  // what `system` returns for a redirection sh cannot make
int write_own_file(const char *path, const char *data, size_t size, const char *who);

// "touch PATH": write_own_file without data.
int touch_marker(const char *path, const char *who);

// Makes `path` afresh as a file of the effective user that no one else can
// have made, opened or replaced: what was there is removed (a folder that is
// not empty is moved aside to a new name beside it), and the file is created
// exclusively, without following a link, with mode 0600.  Returns a
// read-write descriptor, or -1 after a message naming `who`.
int create_private(const char *path, const char *who);

// Root here is uid 0 or the effective user the library runs as.  True when
// no other user can change the folder `dir`, a folder above it or where a
// link on the way leads: each folder is root's and writable by no one else,
// or sticky (as /tmp), where others may add names but not replace root's;
// each link is root's.  Otherwise false, with `why` naming the place.
bool roots_folder(const char *dir, std::string *why);

// Opens for reading the file at `path` when only root can have written it:
// a regular file, not a link, root's, writable by no one else, in a folder
// as above.  Otherwise -1, with `why` saying what is wrong; `why` is empty
// when simply nothing is there.
int open_roots_file(const char *path, std::string *why);

// True when `path` still names the file open on `fd` and that file is still
// private: regular, one name, owned by the effective user, writable by no one
// else.  Prints why not, naming `who`.
bool still_private(const char *path, int fd, const char *who);

// Reads the whole of the file open on `fd` from its start into `text`, at most
// `limit` bytes.  False on a read error or when there is more.
bool read_all(int fd, std::string *text, size_t limit);

}  // namespace kvn

#endif
