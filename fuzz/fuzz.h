// Shared: a found fault stops the run; inputs as files; bytes the shell reads as more than text.
#pragma once
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

inline void must(bool holds) { holds ? void() : abort(); }

// A file of its own holding the bytes (an anonymous one); -1 when none could be made.
inline int file_holding(const void *data, size_t size) {
    int fd = memfd_create("fuzz", MFD_CLOEXEC);
    if (fd >= 0) must(write(fd, data, size) == static_cast<ssize_t>(size));
    return fd;
}

inline bool shell_safe(const std::string &text) {
    return text.find_first_of(" ;|&$`'\"\\<>*?()\n\t") == std::string::npos;
}
