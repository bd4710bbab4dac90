// The player's applications inside the simulator: its own demo
// applications and the developers' plug-ins, each in a thread of its own.
#ifndef KVN_SIM_APPS_H
#define KVN_SIM_APPS_H

#include <memory>
#include <string>

#include "options.h"

namespace kvn_sim {

class PlayerApp {
  public:
    virtual ~PlayerApp() = default;
    virtual int id() const = 0;
    // Tells the application to leave its loop and wakes its window.
    virtual void ask_to_stop() = 0;
    // True once its thread has left the application.
    virtual bool ended() const = 0;
    // Waits for an ended thread and cleans up what the simulator owns; then
    // reports a failure (false) that the application itself returned.
    virtual bool finish(std::string &failure) = 0;
};

// The order in which the applications start and register their windows.
extern const int kPlayerApps[6];

// Creates and registers the demo application's window, then runs its loop.
std::unique_ptr<PlayerApp> start_demo_app(int id);

// Loads the plug-in and runs it until it has registered its window.  When
// it could not be loaded or did not start, `error` says why, and the result
// is null unless its thread still runs (the caller's stop ends it).
std::unique_ptr<PlayerApp> start_plugin_app(const AppOption &app, std::string &error);
// Reports a crash in a plug-in's thread by the plug-in's name (exit status
// 4 while it starts, 5 later); installed before the first plug-in loads.
void report_plugin_crashes();

}  // namespace kvn_sim

#endif
