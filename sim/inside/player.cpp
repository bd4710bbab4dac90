#include "player.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "apps.h"
#include "commands.h"
#include "dialog_view.h"
#include "host_stub.h"
#include "korvan_framework_dev.h"
#include "korvan_framework_lib.h"
#include "messages.h"
#include "remote.h"
#include "screen.h"
#include "status.h"
#include "status_watch.h"
#include "stop_signal.h"
#include "transcript.h"
#include "window_feed.h"

namespace kvn_sim {
namespace {

using Clock = std::chrono::steady_clock;
// What a stop may take before the applications are given up on.
constexpr auto kAppsStopTime = std::chrono::milliseconds(1500);
constexpr auto kDialogKeyEvery = std::chrono::milliseconds(200);

void stop_players(void *) { say("  (media players stopped)"); }

void start_display(const char *argv0) {
    // The dummy system's layer is tiny unless told the player's screen size;
    // the simulator takes its signals itself, so DirectFB must not.
    const char *given = getenv("DFBARGS");
    std::string dfbargs = given ? given : "system=dummy,no-vt,quiet,no-cursor,disable-module=omap";
    if (dfbargs.find("mode=") == std::string::npos) dfbargs += ",mode=1280x720";
    dfbargs += ",no-sighandler";
    setenv("DFBARGS", dfbargs.c_str(), 1);
    char *argv_store[] = {const_cast<char *>(argv0), nullptr};
    int argc = 1;
    char **argv = argv_store;
    kvn_dfb_init(&argc, &argv, &kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_screen);
    kvn_layer_osd_init(kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_layer_osd,
                       &kvn_dfb_global_context.kvn_layer_osd_config, nullptr, nullptr);
    // The background layer needs the player's screen mixer, which the dummy
    // system lacks: its start-up would end the process, so it is left out.
    g_screen.width = kvn_dfb_global_context.kvn_layer_osd_config.width;
    g_screen.height = kvn_dfb_global_context.kvn_layer_osd_config.height;
    if (g_screen.width <= 0 || g_screen.height <= 0) g_screen.width = 1280, g_screen.height = 720;
}

const AppOption *plugin_for(const Options &o, int id) {
    for (const AppOption &a : o.apps)
        if (a.window_id == id) return &a;
    return nullptr;
}

// Starts the applications in the player's order, the plug-ins in their
// place; a plug-in that does not start stops the run with status 4.
int start_apps(const Options &o, std::vector<std::unique_ptr<PlayerApp>> &apps) {
    std::vector<int> order(std::begin(kPlayerApps), std::end(kPlayerApps));
    for (const AppOption &a : o.apps)
        if (std::find(order.begin(), order.end(), a.window_id) == order.end())
            order.push_back(a.window_id);
    for (int id : order) {
        if (const AppOption *plugin = plugin_for(o, id)) {
            std::string error;
            std::unique_ptr<PlayerApp> app = start_plugin_app(*plugin, error);
            if (app) apps.push_back(std::move(app));
            if (!error.empty()) return refuse(kStatusPluginStart, error);
        } else {
            apps.push_back(start_demo_app(id));
        }
    }
    return kStatusOk;
}

// Ends every application's loop, pressing what leaves a menu, countdown or
// standby they are still in; false when one did not end in time.
bool stop_apps(std::vector<std::unique_ptr<PlayerApp>> &apps) {
    for (auto &app : apps) app->ask_to_stop();
    // Under an emulator (scripts/qemu-run) every step of a wake-up is slower.
    const auto limit = getenv("KVN_EMULATOR") != nullptr ? 3 * kAppsStopTime : kAppsStopTime;
    auto deadline = Clock::now() + limit;
    auto next_key = Clock::now();
    for (;;) {
        bool all = std::all_of(apps.begin(), apps.end(),
                               [](const std::unique_ptr<PlayerApp> &a) { return a->ended(); });
        if (all) return true;
        auto now = Clock::now();
        if (now > deadline) break;
        if (now >= next_key) {
            end_open_dialogs();
            next_key = now + kDialogKeyEvery;
        }
        usleep(10000);
    }
    for (auto &app : apps)
        if (!app->ended())
            fprintf(stderr,
                    "korvan-sim: %s did not stop within %lld ms; leaving without the clean-up\n",
                    window_id_str[app->id()], static_cast<long long>(limit.count()));
    return false;
}

}  // namespace

int run_player(const Options &o) {
    set_quiet(o.quiet);
    signal(SIGPIPE, SIG_IGN);
    if (access(kCallsLog, W_OK) != 0)
        return refuse(kStatusSandbox, std::string("KVN_IN_SANDBOX is set but ") + kCallsLog +
                                          " is missing: not inside the sandbox; refusing to run");
    int control = inherited_control_fd();
    bool window = o.window == Options::Window::On, web = !o.web.empty();
    if ((window || web) && control < 0)
        return refuse(kStatusBadInput,
                      std::string(window ? "--window" : "--web") +
                          ": start korvan-sim outside the sandbox, which shows it");
    std::vector<Command> script;
    std::string error;
    if (!o.script.empty() && !load_script(o.script, script, error))
        return refuse(kStatusBadInput, o.script + ": " + error);
    if (access(o.shots.c_str(), W_OK | X_OK) != 0)
        return refuse(kStatusBadInput,
                      "the screenshot folder " + o.shots + " is not a writable folder");

    kvn_set_time_divisor(o.divisor);
    if (web) keep_trace_for_page();
    start_trace(o.trace);
    host_stub_on_playlist_stop(stop_players, nullptr);
    start_display("korvan-sim");
    if (!load_fonts(error)) return refuse(kStatusCannotAct, error);
    start_dialog_view();
    follow_input_buffers();
    start_watch();
    if (!o.apps.empty()) report_plugin_crashes();

    std::vector<std::unique_ptr<PlayerApp>> apps;
    int status = start_apps(o, apps);
    if (status != kStatusOk) request_stop();
    // The developer's own application starts with the focus, so that the
    // window's keyboard reaches it at once.
    if (o.apps.empty() || focus_on_window(o.apps.front().window_id) != 0) focus_on_window(BROWSER);
    watch_pass();
    FeedKinds kinds;
    kinds.screen = window || web;
    kinds.trace = web;
    if (control >= 0 && !start_window_feed(control, kinds, o.shots, error)) {
        status = refuse(kStatusCannotAct, std::string(window ? "--window: " : "--web: ") + error);
        request_stop();
    }

    CommandContext context{o.shots, o.divisor, stored_shots_folder(o), o.update_shots};
    if (!stop_requested()) {
        if (!o.script.empty()) {
            status = run_commands(script, context);
        } else {
            bool quit = false;
            status = run_standard_input(context, quit);
            // The window's and the page's keys go on after standard input has ended.
            while ((window || web) && !quit && sleep_unless_stopped(std::chrono::hours(1))) {
            }
        }
    }
    request_stop();
    if (!stop_apps(apps)) {
        fflush(nullptr);
        _exit(status != kStatusOk ? status : kStatusPluginFailed);
    }
    stop_watch();  // its last lines still reach the web page
    stop_window_feed();
    stop_dialog_view();
    for (auto &app : apps) {
        std::string failure;
        if (!app->finish(failure)) {
            tell(failure);
            if (status == kStatusOk) status = kStatusPluginFailed;
        }
    }
    apps.clear();
    release_fonts();
    kvn_clean_up();
    host_stub_on_playlist_stop(nullptr, nullptr);
    stop_trace();
    if (stop_signal() != 0 && status == kStatusOk) status = kStatusSignalBase + stop_signal();
    say(status == kStatusOk  ? "korvan-sim: done, every expectation met"
        : stop_signal() != 0 ? "korvan-sim: stopped by a signal"
                             : "korvan-sim: stopped on a failure");
    return status;
}

}  // namespace kvn_sim
