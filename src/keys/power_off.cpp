// Power-off through the shutdown script.
#include "power_off.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>

#include "common/child.h"
#include "common/warn.h"
#include "korvan_framework_lib.h"
#include "platform/imports.h"

namespace kvn {

namespace {

std::mutex g_machine_off_mutex;

}  // namespace

void commit_and_sync() {
    save_commit();
    for (int i = 0; i < 5; ++i) sync();
}

}  // namespace kvn

extern "C" int machine_off(int commit, int script_arg) {
    std::lock_guard<std::mutex> one_at_a_time(kvn::g_machine_off_mutex);
    (void)system("power_led -standby 2 &");
    if (commit) {
        kvn::commit_and_sync();
        VideoOutputOnOff(0, nullptr);
    }
    char script[] = "/etc/shutdown.sh";
    char one[] = "1";
    char *const argv[] = {script, script_arg ? one : nullptr, nullptr};
    pid_t pid = kvn::start_child(script, argv, "/");
    if (pid < 0) {
        // Waiting now could reap some other child of the application.
        kvn::warn("machine_off", "fork: %s", strerror(errno));
        return -1;
    }
    int status = 0;
    return waitpid(pid, &status, 0);
}
