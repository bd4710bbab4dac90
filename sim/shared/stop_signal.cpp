#include "stop_signal.h"

#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kvn_sim {
namespace {

struct Stop {
    std::mutex mutex;
    std::condition_variable changed;
    bool requested = false;
    int signal_number = 0;
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::function<void(int)> callback;
};

Stop &stop() {
    static Stop *instance = new Stop();  // signal thread may outlive main's statics
    return *instance;
}

void write_text(const char *a, const char *b, const char *c) {
    for (const char *p : {a, b, c}) {
        ssize_t n = write(STDERR_FILENO, p, strlen(p));
        (void)n;
    }
}

}  // namespace

void take_stop_signals(bool announce) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, announce] {
        int count = 0;
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) != 0) continue;
            const char *name = sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP";
            if (++count == 1) {
                if (announce) write_text("korvan-sim: ", name, ": stopping in order\n");
                request_stop(sig);
            } else {
                write_text("korvan-sim: ", name, " again: leaving at once, without the clean-up\n");
                _exit(128 + sig);
            }
        }
    }).detach();
}

void request_stop(int signal_number) {
    Stop &s = stop();
    std::function<void(int)> callback;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.requested) return;
        s.requested = true;
        s.signal_number = signal_number;
        callback = s.callback;
    }
    uint64_t one = 1;
    ssize_t n = write(s.fd, &one, sizeof one);
    (void)n;
    s.changed.notify_all();
    if (callback) callback(signal_number);
}

bool stop_requested() {
    Stop &s = stop();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.requested;
}

int stop_signal() {
    Stop &s = stop();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.signal_number;
}

bool sleep_unless_stopped(std::chrono::microseconds duration) {
    Stop &s = stop();
    std::unique_lock<std::mutex> lock(s.mutex);
    return !s.changed.wait_for(lock, duration, [&] { return s.requested; });
}

int stop_fd() { return stop().fd; }

void on_stop_request(std::function<void(int)> callback) {
    Stop &s = stop();
    int signal_number = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.callback = callback;
        if (!s.requested || !callback) return;
        signal_number = s.signal_number;
    }
    // Requested before anyone listened: a stop is never lost.
    callback(signal_number);
}

}  // namespace kvn_sim
