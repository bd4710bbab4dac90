// What the library costs an application's event loop, each figure measured
// in the same run as the least the same work could cost.
//
// Prints one line per figure:
//   METRIC <name> <value> <unit> baseline <value> ratio <ratio>
// Runs inside kvn-sandbox (private /tmp, fake player programs).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "flash_setting.h"
#include "korvan_framework_lib.h"

namespace {

using Clock = std::chrono::steady_clock;

void start_display() {
    static bool started = false;
    if (started) return;
    started = true;
    static char arg0[] = "kvn-bench";
    static char *argv_store[] = {arg0, nullptr};
    int argc = 1;
    char **argv = argv_store;
    kvn_dfb_init(&argc, &argv, &kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_screen);
    kvn_layer_osd_init(kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_layer_osd,
                       &kvn_dfb_global_context.kvn_layer_osd_config, nullptr, nullptr);
}

struct Window {
    kvn_window record;
    explicit Window(int id, int hide_others = 1) {
        memset(&record, 0, sizeof record);
        record.window_id = id;
        record.active = 1;
        record.opacity = 0xff;
        record.hide_others = hide_others;
        DFBWindowDescription desc;
        kvn_create_window_surface_events(&record, &desc, 0, 0, 64, 64, DWCAPS_NONE, 0);
    }
};

// 1. Idle loop pass --------------------------------------------------------
void BM_IdlePass(benchmark::State &state) {
    start_display();
    static Window browser(BROWSER);
    static bool registered = register_window(&browser.record) == 0;
    (void)registered;
    unlink("/tmp/hdmi_changed");
    system("echo 5 > /tmp/tvmode");
    DFBWindowEvent event;
    memset(&event, 0, sizeof event);
    for (auto _ : state) {
        check_tvmode_fifo();
        benchmark::DoNotOptimize(check_hdmi_state_changed());
        event.type = DWET_KEYDOWN;
        event.key_symbol = DIKS_OK;
        benchmark::DoNotOptimize(kvn_default_event_handling(&browser.record, &event));
    }
}
BENCHMARK(BM_IdlePass);

void BM_IdlePassBaseline(benchmark::State &state) {
    start_display();
    char buffer[61];
    struct stat st;
    for (auto _ : state) {
        benchmark::DoNotOptimize(read(outport_pipe, buffer, 60));
        benchmark::DoNotOptimize(stat("/tmp/hdmi_changed", &st));
    }
}
BENCHMARK(BM_IdlePassBaseline);

// 2. Hand-over latency ------------------------------------------------------
// One-way latency from a post in this thread to the target thread's wait
// returning; p50 and p99 over the samples, reported as counters.
template <typename Post, typename Wait>
void latency(benchmark::State &state, Post post, Wait wait) {
    std::vector<double> samples;
    std::atomic<bool> done{false};
    std::atomic<int64_t> woke_ns{0};
    std::atomic<int> seq{0};
    std::thread target([&] {
        int seen = 0;
        while (!done) {
            if (!wait()) continue;
            woke_ns = Clock::now().time_since_epoch().count();
            seq = ++seen;
        }
    });
    int sent = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        post();
        ++sent;
        while (seq.load() < sent) {
        }
        samples.push_back(static_cast<double>(woke_ns.load() - t0.time_since_epoch().count()) / 1000.0);
    }
    done = true;
    post();
    target.join();
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["p50_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    }
}

IDirectFBEventBuffer *drain(IDirectFBEventBuffer *b) {
    DFBEvent e;
    while (b->GetEvent(b, &e) == DFB_OK) {
    }
    return b;
}

// The target application's side: wait, then take what arrived.
bool wait_and_drain(IDirectFBEventBuffer *events) {
    if (events->WaitForEventWithTimeout(events, 0, 100) != DFB_OK) return false;
    DFBEvent e;
    bool got = false;
    while (events->GetEvent(events, &e) == DFB_OK) got = true;
    return got;
}

void BM_HandOver(benchmark::State &state) {
    start_display();
    static Window flash(FLASH_LITE);
    static bool registered = register_window(&flash.record) == 0;
    (void)registered;
    IDirectFBEventBuffer *events = drain(flash.record.events);
    latency(state, [] { kvnfw_send_event(FLASH_LITE, DIKS_OK); },
            [events] { return wait_and_drain(events); });
}
BENCHMARK(BM_HandOver)->Iterations(2000);

void BM_HandOverBaselineDirectFB(benchmark::State &state) {
    start_display();
    static Window other(DUMMY1);
    IDirectFBEventBuffer *events = drain(other.record.events);
    latency(state,
            [events] {
                DFBEvent e;
                memset(&e, 0, sizeof e);
                e.window.clazz = DFEC_WINDOW;
                e.window.type = DWET_KEYDOWN;
                e.window.key_symbol = DIKS_OK;
                events->PostEvent(events, &e);
            },
            [events] { return wait_and_drain(events); });
}
BENCHMARK(BM_HandOverBaselineDirectFB)->Iterations(2000);

void BM_HandOverBaselinePipe(benchmark::State &state) {
    int fds[2];
    if (pipe(fds) != 0) abort();
    latency(state, [&] { char c = 1; benchmark::DoNotOptimize(write(fds[1], &c, 1)); },
            [&] { char c; return read(fds[0], &c, 1) == 1; });
    close(fds[0]);
    close(fds[1]);
}
BENCHMARK(BM_HandOverBaselinePipe)->Iterations(2000);

// 3. Focus switch among eleven windows -------------------------------------
std::vector<Window *> &eleven() {
    static std::vector<Window *> windows;
    if (windows.empty()) {
        start_display();
        for (int id = 0; id < KVN_APPLICATION_COUNT; ++id) windows.push_back(new Window(id, id % 2));
    }
    return windows;
}

void BM_FocusSwitch(benchmark::State &state) {
    std::vector<Window *> &w = eleven();
    for (Window *x : w) register_window(&x->record);
    int i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(focus_on_window(i++ % 2 ? BROWSER : PHOTO_PLAYER));
    for (Window *x : w) unregister_window(&x->record);
}
BENCHMARK(BM_FocusSwitch);

void BM_FocusSwitchBaseline(benchmark::State &state) {
    std::vector<Window *> &w = eleven();
    int i = 0;
    for (auto _ : state) {
        IDirectFBWindow *target = w[i++ % 2 ? BROWSER : PHOTO_PLAYER]->record.window;
        for (Window *x : w)
            if (x->record.window != target) x->record.window->SetOpacity(x->record.window, 0);
        target->SetOpacity(target, 0xff);
        target->RequestFocus(target);
        target->RaiseToTop(target);
    }
}
BENCHMARK(BM_FocusSwitchBaseline);

// 4. Settings store --------------------------------------------------------
void BM_SettingsRead(benchmark::State &state) {
    write_var("video_output", "5", 0);
    for (auto _ : state) {
        char *v = get_var_mem("video_output");
        benchmark::DoNotOptimize(v);
        free(v);
    }
}
BENCHMARK(BM_SettingsRead);

void BM_SettingsReadBaseline(benchmark::State &state) {
    const std::string cached = "5";
    for (auto _ : state) {
        char *v = strdup(cached.c_str());
        benchmark::DoNotOptimize(v);
        free(v);
    }
}
BENCHMARK(BM_SettingsReadBaseline);

void BM_SettingsCommit(benchmark::State &state) {
    int i = 0;
    for (auto _ : state) {
        ++i;
        write_var("video_output", &i, 1);
        save_commit();
    }
}
BENCHMARK(BM_SettingsCommit)->Iterations(300);

// The bare durable write goes to the same file system as the store
// (KVN_BENCH_DIR, set by bench/run to a folder on the real disk).
void BM_SettingsCommitBaseline(benchmark::State &state) {
    const char *env = getenv("KVN_BENCH_DIR");
    std::string dir = std::string(env != nullptr ? env : "/tmp") + "/bare";
    mkdir(dir.c_str(), 0755);
    std::string temp = dir + "/store.tmp", target = dir + "/store";
    std::string data = "kvn-flash-setting 1\nlang=english_lang\ntv_system=PAL\nvideo_output=12345\n";
    for (auto _ : state) {
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(write(fd, data.data(), data.size()));
        fsync(fd);
        close(fd);
        rename(temp.c_str(), target.c_str());
        int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        fsync(dfd);
        close(dfd);
    }
}
BENCHMARK(BM_SettingsCommitBaseline)->Iterations(300);

// 5. Start-up, each in a fresh child process --------------------------------
template <typename F>
void in_child(benchmark::State &state, F body) {
    for (auto _ : state) {
        pid_t pid = fork();
        if (pid == 0) {
            body();
            _exit(0);
        }
        int status;
        waitpid(pid, &status, 0);
    }
}

void BM_StartUp(benchmark::State &state) {
    in_child(state, [] {
        kvn_dfb_context &c = kvn_dfb_global_context;
        c.kvn_dfb = nullptr;
        c.kvn_layer_osd = nullptr;
        static char arg0[] = "kvn-bench";
        static char *argv_store[] = {arg0, nullptr};
        int argc = 1;
        char **argv = argv_store;
        kvn_dfb_init(&argc, &argv, &c.kvn_dfb, &c.kvn_screen);
        kvn_layer_osd_init(c.kvn_dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, nullptr, nullptr);
    });
}

void BM_StartUpBaseline(benchmark::State &state) {
    in_child(state, [] {
        static char arg0[] = "kvn-bench";
        static char *argv_store[] = {arg0, nullptr};
        int argc = 1;
        char **argv = argv_store;
        IDirectFB *dfb = nullptr;
        IDirectFBDisplayLayer *layer = nullptr;
        DirectFBInit(&argc, &argv);
        DirectFBCreate(&dfb);
        dfb->GetDisplayLayer(dfb, DLID_PRIMARY, &layer);
    });
}

// Registered only when asked: a forked child must not inherit a display.
bool g_startup = false;

// Collects results so that each figure can be printed beside its baseline.
class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, Run> runs;
    void ReportRuns(const std::vector<Run> &reports) override {
        for (const Run &r : reports) runs[r.benchmark_name()] = r;
        ConsoleReporter::ReportRuns(reports);
    }
};

void metric(const char *name, double value, const char *unit, double baseline) {
    printf("METRIC %s %.3f %s baseline %.3f ratio %.2f\n", name, value, unit, baseline,
           baseline > 0 ? value / baseline : 0.0);
}

}  // namespace

long resident_kb() {
    FILE *f = fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (f != nullptr && fgets(line, sizeof line, f) != nullptr)
        if (strncmp(line, "VmRSS:", 6) == 0) kb = strtol(line + 6, nullptr, 10);
    if (f != nullptr) fclose(f);
    return kb;
}

// Fixed amounts of work for the counters that do not move with the load of
// the machine (strace, callgrind): the script subtracts a run of 0.
int fixed_work(const char *what, long count) {
    if (strcmp(what, "idle") == 0) {
        start_display();
        static Window browser(BROWSER);
        register_window(&browser.record);
        system("echo 5 > /tmp/tvmode");
        DFBWindowEvent event;
        memset(&event, 0, sizeof event);
        for (long i = 0; i < count; ++i) {
            check_tvmode_fifo();
            check_hdmi_state_changed();
            event.type = DWET_KEYDOWN;
            event.key_symbol = DIKS_OK;
            kvn_default_event_handling(&browser.record, &event);
        }
    } else if (strcmp(what, "read") == 0) {
        write_var("video_output", "5", 0);
        for (long i = 0; i < count; ++i) free(get_var_mem("video_output"));
    } else if (strcmp(what, "commit") == 0) {
        for (int i = 0; i < count; ++i) {
            write_var("video_output", &i, 1);
            save_commit();
        }
    } else if (strcmp(what, "rss-bare") == 0 || strcmp(what, "rss-kvn") == 0) {
        static char arg0[] = "kvn-bench";
        static char *argv_store[] = {arg0, nullptr};
        int argc = 1;
        char **argv = argv_store;
        if (what[4] == 'b') {
            IDirectFB *dfb = nullptr;
            IDirectFBDisplayLayer *layer = nullptr;
            DirectFBInit(&argc, &argv);
            DirectFBCreate(&dfb);
            dfb->GetDisplayLayer(dfb, DLID_PRIMARY, &layer);
        } else {
            kvn_dfb_init(&argc, &argv, &kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_screen);
            kvn_layer_osd_init(kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_layer_osd,
                               &kvn_dfb_global_context.kvn_layer_osd_config, nullptr, nullptr);
        }
        printf("RSS_KB %ld\n", resident_kb());
    } else {
        fprintf(stderr, "unknown work %s\n", what);
        return 2;
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 4 && strcmp(argv[1], "--work") == 0) return fixed_work(argv[2], atol(argv[3]));
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "--startup") == 0) g_startup = true;
    if (g_startup) {
        // Start-up first, before this process owns a display of its own.
        benchmark::RegisterBenchmark("BM_StartUp", BM_StartUp)->Iterations(20);
        benchmark::RegisterBenchmark("BM_StartUpBaseline", BM_StartUpBaseline)->Iterations(20);
    }
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    // Runs are named "NAME" or "NAME/iterations:N".
    auto find = [&](const char *name) {
        for (auto it = collector.runs.begin(); it != collector.runs.end(); ++it) {
            const std::string &n = it->first;
            if (n == name || n.rfind(std::string(name) + "/", 0) == 0) return it;
        }
        return collector.runs.end();
    };
    auto ns = [&](const char *name) {
        auto it = find(name);
        return it == collector.runs.end() ? -1.0 : it->second.GetAdjustedRealTime();
    };
    auto counter = [&](const char *name, const char *c) {
        auto it = find(name);
        if (it == collector.runs.end()) return -1.0;
        auto cit = it->second.counters.find(c);
        return cit == it->second.counters.end() ? -1.0 : static_cast<double>(cit->second);
    };
    printf("\n");
    if (ns("BM_IdlePass") >= 0) metric("idle_loop_pass", ns("BM_IdlePass"), "ns", ns("BM_IdlePassBaseline"));
    if (ns("BM_HandOver") >= 0) {
        metric("handover_p50_vs_directfb", counter("BM_HandOver", "p50_us"), "us",
               counter("BM_HandOverBaselineDirectFB", "p50_us"));
        metric("handover_p99_vs_directfb", counter("BM_HandOver", "p99_us"), "us",
               counter("BM_HandOverBaselineDirectFB", "p99_us"));
        metric("handover_p50_vs_pipe", counter("BM_HandOver", "p50_us"), "us",
               counter("BM_HandOverBaselinePipe", "p50_us"));
    }
    if (ns("BM_FocusSwitch") >= 0)
        metric("focus_switch_11_windows", ns("BM_FocusSwitch"), "ns", ns("BM_FocusSwitchBaseline"));
    if (ns("BM_SettingsRead") >= 0)
        metric("settings_get_var_mem", ns("BM_SettingsRead"), "ns", ns("BM_SettingsReadBaseline"));
    if (ns("BM_SettingsCommit") >= 0)
        metric("settings_write_and_commit", ns("BM_SettingsCommit") / 1000.0, "us",
               ns("BM_SettingsCommitBaseline") / 1000.0);
    if (ns("BM_StartUp") >= 0)
        metric("start_up", ns("BM_StartUp") / 1e6, "ms", ns("BM_StartUpBaseline") / 1e6);
    return 0;
}
