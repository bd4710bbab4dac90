/* Opens a file by its file handle through the mount of FOLDER, as a program
 * that wants a way around its mounts would: the handle names the file on
 * its file system, and the file opened through FOLDER's mount takes that
 * mount's rights, wherever the file lies.  The handle is taken where the
 * file can be named ("name", which prints it) and used where it may not
 * ("read", or "write", which appends a line).
 * Usage: handle-probe name FILE
 *        handle-probe read|write HANDLE FOLDER
 * Exit status: 0 named, or opened (and written), 1 refused (the step and
 * the reason on standard output), 2 bad use. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv) {
    struct file_handle *handle = malloc(sizeof *handle + MAX_HANDLE_SZ);
    if (handle == NULL) return 2;
    handle->handle_bytes = MAX_HANDLE_SZ;
    if (argc == 3 && strcmp(argv[1], "name") == 0) {
        int mount_id;
        if (name_to_handle_at(AT_FDCWD, argv[2], handle, &mount_id, 0) != 0) {
            printf("name_to_handle_at %s: %s\n", argv[2], strerror(errno));
            return 1;
        }
        printf("%d:", handle->handle_type);
        for (unsigned i = 0; i < handle->handle_bytes; ++i) printf("%02x", handle->f_handle[i]);
        printf("\n");
        return 0;
    }
    if (argc != 4 || (strcmp(argv[1], "read") != 0 && strcmp(argv[1], "write") != 0)) {
        fprintf(stderr, "usage: handle-probe name FILE | handle-probe read|write HANDLE FOLDER\n");
        return 2;
    }
    int writing = strcmp(argv[1], "write") == 0;
    const char *hex = strchr(argv[2], ':');
    if (hex == NULL) return 2;
    handle->handle_type = atoi(argv[2]);
    handle->handle_bytes = 0;
    for (++hex; hex[0] != '\0' && hex[1] != '\0' && handle->handle_bytes < MAX_HANDLE_SZ;
         hex += 2) {
        unsigned byte;
        if (sscanf(hex, "%2x", &byte) != 1) return 2;
        handle->f_handle[handle->handle_bytes++] = (unsigned char)byte;
    }
    int via = open(argv[3], O_RDONLY | O_DIRECTORY);
    if (via < 0) {
        printf("open %s: %s\n", argv[3], strerror(errno));
        return 1;
    }
    int fd = open_by_handle_at(via, handle, writing ? O_WRONLY | O_APPEND : O_RDONLY);
    if (fd < 0) {
        printf("open_by_handle_at: %s\n", strerror(errno));
        return 1;
    }
    if (writing && write(fd, "changed by handle\n", 18) != 18) {
        printf("write: %s\n", strerror(errno));
        return 1;
    }
    printf("opened the file for %s through %s\n", argv[1], argv[3]);
    return 0;
}
