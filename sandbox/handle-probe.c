/* Opens FILE by its file handle through the mount of FOLDER, as a program
 * that wants a way around its mounts would: the handle names FILE on its
 * file system, and the file opened through FOLDER's mount takes that
 * mount's rights, wherever the file lies.  With "write", appends a line.
 * Usage: handle-probe read|write FILE FOLDER
 * Exit status: 0 opened (and written), 1 refused (the step and the reason
 * on standard output), 2 bad use. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc != 4 || (strcmp(argv[1], "read") != 0 && strcmp(argv[1], "write") != 0)) {
        fprintf(stderr, "usage: handle-probe read|write FILE FOLDER\n");
        return 2;
    }
    int writing = strcmp(argv[1], "write") == 0;
    struct file_handle *handle = malloc(sizeof *handle + MAX_HANDLE_SZ);
    if (handle == NULL) return 2;
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mount_id;
    if (name_to_handle_at(AT_FDCWD, argv[2], handle, &mount_id, 0) != 0) {
        printf("name_to_handle_at %s: %s\n", argv[2], strerror(errno));
        return 1;
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
    printf("opened %s for %s through %s\n", argv[2], argv[1], argv[3]);
    return 0;
}
