// The one request to stop a run, from a signal, the window, a script's end
// or a failure, and the waits that it cuts short.
#ifndef KVN_SIM_STOP_SIGNAL_H
#define KVN_SIM_STOP_SIGNAL_H

#include <chrono>
#include <functional>

namespace kvn_sim {

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, so in every
// thread created after it (DirectFB's included), and takes them in a thread
// of its own: the first one requests the stop, a second one ends the
// process at once.  Call first thing in main; `announce` says so on
// standard error.
void take_stop_signals(bool announce);

// Requests the stop; the first request's signal (0 for none) is kept.
void request_stop(int signal_number = 0);
bool stop_requested();
// The signal that requested the stop, 0 when none did.
int stop_signal();
// Sleeps for `duration` unless the stop is requested first; false then.
bool sleep_unless_stopped(std::chrono::microseconds duration);
// A descriptor that becomes readable once the stop is requested.
int stop_fd();
// Called once, in the requesting thread, with the first request's signal;
// at once, in the calling thread, when the stop was requested before.
void on_stop_request(std::function<void(int)> callback);

}  // namespace kvn_sim

#endif
