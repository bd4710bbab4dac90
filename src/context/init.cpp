// The process-wide display context, the framework's shared globals and
// start-up.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "common/guard.h"
#include "common/warn.h"
#include "korvan_framework_lib.h"

extern "C" {

kvn_dfb_context kvn_dfb_global_context;

int kvn_global_state = 0;
int thread_qty = 0;
pthread_mutex_t kvn_mutex_state = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t kvn_mutex_windows = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t kvn_mutex_threads = PTHREAD_MUTEX_INITIALIZER;

kvn_window *kvn_windows_head = nullptr;
kvn_window *kvn_windows_end = nullptr;
kvn_thread *kvn_threads_head = nullptr;
kvn_thread *kvn_threads_end = nullptr;

int outport_pipe = -1;
int kvn_command_pipe = -1;
int kvnupnp_key_pipe = -1;

void *get_play_type_func_ptr = nullptr;
void *get_media_space_func_ptr = nullptr;
void *get_media_type_func_ptr = nullptr;

}  // extern "C"

namespace kvn {

namespace {

// Said once, at start-up: otherwise a pipe that cannot be used would be
// ignored for good without a word.
void report_unusable(const char *path, int fd, bool fifo_only, const char *consequence) {
    struct stat st;
    if (fd < 0) {
        warn("kvn_dfb_init", "cannot open %s: %s; %s", path, strerror(errno), consequence);
    } else if (fifo_only && fstat(fd, &st) == 0 && !S_ISFIFO(st.st_mode)) {
        warn("kvn_dfb_init", "%s is not a FIFO; %s", path, consequence);
    }
}

}  // namespace

}  // namespace kvn

extern "C" int kvn_dfb_init(int *argc, char ***argv, IDirectFB **dfb, IDirectFBScreen **screen) {
    pthread_mutex_lock(&kvn_mutex_state);
    kvn_global_state = 0;
    thread_qty = 0;
    pthread_mutex_unlock(&kvn_mutex_state);

    KVN_DFB_CHECK(DirectFBInit(argc, argv), "DirectFBInit( argc, argv )");
    KVN_DFB_CHECK(DirectFBCreate(dfb), "DirectFBCreate( dfb )");
    KVN_DFB_CHECK((*dfb)->GetScreen((*dfb), 0, screen), "(*dfb)->GetScreen((*dfb), 0, screen)");
    int width = 0;
    int height = 0;
    KVN_DFB_CHECK((*screen)->GetSize((*screen), &width, &height),
                  "(*screen)->GetSize((*screen), &width, &height)");

    // An existing FIFO is the normal case after the first start, so the
    // creation results are not looked at.  The read ends are never opened
    // through a link planted under /tmp (with O_CREAT that would create the
    // link's target anywhere), and no program the application starts
    // inherits them.
    (void)mknod("/tmp/display", S_IFIFO | 0666, 0);
    outport_pipe =
        open("/tmp/display", O_RDONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0700);
    kvn::report_unusable("/tmp/display", outport_pipe, false, "mode commands will not be read");
    (void)mkfifo("/tmp/kvn_framework_pipe", 0644);
    kvn_command_pipe =
        open("/tmp/kvn_framework_pipe", O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    kvn::report_unusable("/tmp/kvn_framework_pipe", kvn_command_pipe, true,
                         "no event lines will arrive");
    (void)mkfifo("/tmp/kvnupnp_key_pipe", 0644);
    kvnupnp_key_pipe =
        open("/tmp/kvnupnp_key_pipe", O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    kvn::report_unusable("/tmp/kvnupnp_key_pipe", kvnupnp_key_pipe, true, "no keys will arrive");
    return 0;
}
