// The platform watcher: what the player's other programs would see (the
// fakes' command lines, the framework's event lines and replies, the focus
// and the picture), turned into trace lines and a status bar on screen.
#ifndef KVN_SIM_STATUS_WATCH_H
#define KVN_SIM_STATUS_WATCH_H

#include <regex>
#include <string>

namespace kvn_sim {

// Where the sandbox's fake programs write the command lines they were run with.
constexpr const char *kCallsLog = "/run/kvn-fakes/calls.log";

// Takes the trace (echoed unless quiet, kept in memory, and in `trace_file`
// when one is given); before DirectFB starts.
void start_trace(const std::string &trace_file);
void stop_trace();

// The status bar, the dark picture and the watcher's thread.
void start_watch();
void stop_watch();
// One pass of the watcher now, so that what happened is in the trace.
void watch_pass();

// True when a trace line kept in memory matches; `found` is the line.
bool trace_has(const std::regex &pattern, std::string &found);

}  // namespace kvn_sim

#endif
