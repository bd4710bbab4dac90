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

// For paths the shell writes to by name (a redirection, `touch`): true when
// nothing is there yet or a regular file with a single name that is no link.
// Otherwise prints why, naming `who`, and returns false.
bool shell_may_write(const char *path, const char *who);

// Runs "touch PATH" through the shell when shell_may_write allows it;
// returns the shell's status, or -1 when refused.
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
