// What the library costs an application, each figure measured against the
// least the same work costs without it.
//
// The machine is shared and its load moves by more than the differences we
// look for, so library and bare work are interleaved in blocks of about a
// millisecond within each run (sample by sample for the hand-over), and
// each figure is the median of several such pairs' ratios with their
// spread.  A change of load then falls on both sides of a pair instead of
// on one figure.
//
// Prints, after Google Benchmark's own lines:
//   FIGURE <name> lib <v> <unit> bare <v> <unit> ratio <median> iqr <q1>-<q3>
//          range <min>-<max> pairs <n> goal <=<g>|none <verdict>
// `--work WHAT N` runs N passes of one piece of work between two getppid
// markers and with callgrind collecting only in between, for the counts
// that do not move with load (strace, callgrind).
//
// Runs inside kvn-sandbox (private /tmp, fake player programs).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <valgrind/callgrind.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "flash_setting.h"
#include "korvan_framework_lib.h"
#include "kvn_trace.h"
#include "osd_service.h"
#include "screensaver_stub.h"

namespace {

[[noreturn]] void fail(const char *what) {
    fprintf(stderr, "kvn_bench: %s\n", what);
    abort();
}

void expect(bool ok, const char *what) {
    if (!ok) fail(what);
}

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void start_display() {
    static bool started = false;
    if (started) return;
    started = true;
    static char arg0[] = "kvn-bench";
    static char *argv_store[] = {arg0, nullptr};
    int argc = 1;
    char **argv = argv_store;
    kvn_dfb_context &c = kvn_dfb_global_context;
    kvn_dfb_init(&argc, &argv, &c.kvn_dfb, &c.kvn_screen);
    kvn_layer_osd_init(c.kvn_dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, nullptr, nullptr);
}

// One window per application, registered once in identifier order with
// nothing focused, shared by every figure.  Each hides the others when it
// takes the focus.  The windows are small, so that DirectFB's composition
// work stays small and the library's share of a focus switch shows.
kvn_window *app(int id) {
    static kvn_window *records = [] {
        start_display();
        kvn_window *r = new kvn_window[KVN_APPLICATION_COUNT]();
        for (int i = 0; i < KVN_APPLICATION_COUNT; ++i) {
            r[i].window_id = i;
            r[i].active = 1;
            r[i].opacity = 0xff;
            r[i].hide_others = 1;
            r[i].osd_id = 100 + i;
            DFBWindowDescription desc;
            kvn_create_window_surface_events(&r[i], &desc, 0, 0, 64, 64, DWCAPS_NONE, 0);
            expect(register_window(&r[i]) == 0, "register_window failed");
        }
        return r;
    }();
    return &records[id];
}

bool is_posted_key(const DFBEvent &e) {
    return e.clazz == DFEC_WINDOW && e.window.type == DWET_KEYDOWN &&
           e.window.key_symbol == DIKS_OK;
}

// Focus changes leave events in every window's buffer; nobody reads them
// here, so they are thrown away between runs.
void drain_all() {
    for (int id = 0; id < KVN_APPLICATION_COUNT; ++id) {
        IDirectFBEventBuffer *b = app(id)->events;
        DFBEvent e;
        while (b->GetEvent(b, &e) == DFB_OK) {
        }
    }
    osd_service_clear();
    kvn_trace_clear();
}

// 1. Idle loop pass ---------------------------------------------------------
// An application's loop with nothing to do: the mode pipe is empty, the TV
// mode is a fixed one, and the key is not a framework key.  Its floor is the
// three calls the pass cannot do without: a read of the empty mode FIFO, a
// stat to learn whether /tmp/tvmode changed, and the test of the installer
// marker.
void idle_setup() {
    app(BROWSER);
    unlink("/tmp/hdmi_changed");
    unlink("/tmp/vmk_installing");
    bench_fixed_tvmode();
    expect(check_hdmi_state_changed() == 5,
           "check_hdmi_state_changed does not read the fixed mode 5");
}

void idle_lib(long n) {
    kvn_window *self = app(BROWSER);
    DFBWindowEvent event;
    memset(&event, 0, sizeof event);
    for (long i = 0; i < n; ++i) {
        check_tvmode_fifo();
        benchmark::DoNotOptimize(check_hdmi_state_changed());
        event.type = DWET_KEYDOWN;
        event.key_symbol = DIKS_OK;
        benchmark::DoNotOptimize(kvn_default_event_handling(self, &event));
    }
}

void idle_bare(long n) {
    char buffer[64];
    struct stat st;
    for (long i = 0; i < n; ++i) {
        benchmark::DoNotOptimize(read(outport_pipe, buffer, 60));
        benchmark::DoNotOptimize(stat("/tmp/tvmode", &st));
        benchmark::DoNotOptimize(access("/tmp/vmk_installing", F_OK));
    }
}

// 2. Focus switch among the eleven windows -----------------------------------
// Alternates between the browser and the photo player, so that every switch
// changes application: ten windows hidden, the target shown, focused and
// raised, and the screen saver and the dialog service told.
int focus_target(long i) { return i % 2 ? BROWSER : PHOTO_PLAYER; }

void focus_lib(long n) {
    static long i = 0;
    for (long k = 0; k < n; ++k)
        expect(focus_on_window(focus_target(i++)) == 0, "focus_on_window failed");
}

void check(DFBResult r) { expect(r == DFB_OK, "a DirectFB call of the bare focus switch failed"); }

// The calls the focus rules make for such a switch, made directly.
void focus_bare(long n) {
    static long i = 0;
    kvn_window *w[KVN_APPLICATION_COUNT];
    for (int id = 0; id < KVN_APPLICATION_COUNT; ++id) w[id] = app(id);
    for (long k = 0; k < n; ++k, ++i) {
        kvn_window *to = w[focus_target(i)], *from = w[focus_target(i + 1)];
        for (kvn_window *x : w)
            if (x != to) check(x->window->SetOpacity(x->window, 0x00));
        scsvr_callback_window_switch();
        int connection = 0;
        osd_command(from->osd_id, &connection, -3, 0, 0, 0, nullptr);
        osd_command(from->osd_id, &connection, 35, -1, -1, 0, nullptr);
        osd_command(from->osd_id, &connection, -2, 0, 0, 0, nullptr);
        uint8_t opacity = 0;
        check(to->window->GetOpacity(to->window, &opacity));
        if (opacity == 0) check(to->window->SetOpacity(to->window, to->opacity));
        check(to->window->RequestFocus(to->window));
        check(to->window->RaiseToTop(to->window));
    }
}

// 3. Hand-over ----------------------------------------------------------------
// From a post in this thread to the flash player's thread returning from its
// wait with the key.  Library posts (kvnfw_send_event) and bare ones
// (PostEvent and WakeUp on the same buffer, the calls the library makes)
// alternate sample by sample into the same waiting thread.
DFBEvent posted_key() {
    DFBEvent e;
    memset(&e, 0, sizeof e);
    e.window.clazz = DFEC_WINDOW;
    e.window.type = DWET_KEYDOWN;
    e.window.key_symbol = DIKS_OK;
    return e;
}

void post_lib(long n) {
    for (long i = 0; i < n; ++i)
        expect(kvnfw_send_event(FLASH_LITE, DIKS_OK) == 0, "kvnfw_send_event failed");
}

void post_bare(long n) {
    IDirectFBEventBuffer *events = app(FLASH_LITE)->events;
    for (long i = 0; i < n; ++i) {
        DFBEvent e = posted_key();
        events->PostEvent(events, &e);
        events->WakeUp(events);
    }
}

void BM_HandOver(benchmark::State &state, int pair);

// 4. Settings store ---------------------------------------------------------
std::string store_path() {
    const char *env = getenv("FLASH_SETTING_FILE");
    expect(env != nullptr && *env != '\0', "FLASH_SETTING_FILE is not set (bench/run sets it)");
    return env;
}

// The store as the player holds it, committed once; its committed file is
// what a bare durable write writes, byte for byte.
const std::string &seeded_store() {
    static std::string bytes = [] {
        write_var("lang", "english", 0);
        write_var("tv_system", "PAL", 0);
        write_var("video_setting", "tvmode", 0);
        write_var("video_output", "10", 0);
        save_commit();
        FILE *f = fopen(store_path().c_str(), "rb");
        expect(f != nullptr, "the store has no committed file after save_commit");
        std::string data;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
        fclose(f);
        return data;
    }();
    return bytes;
}

// Alternates 10 and 11, so that every write changes the value and the
// store's size stays that of the bare write.
void commit_lib(long n) {
    seeded_store();
    static int value = 10;
    for (long i = 0; i < n; ++i) {
        value = value == 10 ? 11 : 10;
        write_var("video_output", &value, 1);
        save_commit();
    }
}

// Write, fsync, rename and fsync of the directory, beside the store.
void commit_bare(long n) {
    const std::string &data = seeded_store();
    std::string path = store_path();
    std::string dir = path.substr(0, path.rfind('/'));
    std::string temp = dir + "/bare.tmp", target = dir + "/bare";
    for (long i = 0; i < n; ++i) {
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        expect(fd >= 0, "cannot create the bare store file");
        expect(write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()),
               "short write");
        fsync(fd);
        close(fd);
        rename(temp.c_str(), target.c_str());
        int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        fsync(dfd);
        close(dfd);
    }
}

void read_lib(long n) {
    seeded_store();
    for (long i = 0; i < n; ++i) {
        char *v = get_var_mem("video_output");
        benchmark::DoNotOptimize(v);
        free(v);
    }
}

// The least a read that must see another process's write through a file
// can do: look once at a small file in memory (/run, a tmpfs) and copy the
// value held in this process.
void read_bare(long n) {
    const char *path = "/run/kvn-bench-read";
    static bool made = [path] {
        FILE *f = fopen(path, "w");
        if (f != nullptr) fclose(f);
        return f != nullptr;
    }();
    expect(made, "cannot create /run/kvn-bench-read");
    const std::string cached = "10";
    struct stat st;
    for (long i = 0; i < n; ++i) {
        benchmark::DoNotOptimize(stat(path, &st));
        char *v = strdup(cached.c_str());
        benchmark::DoNotOptimize(v);
        free(v);
    }
}

// 5. Start-up, each in a fresh child process ---------------------------------
void in_child(void (*body)()) {
    pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status;
    waitpid(pid, &status, 0);
    expect(WIFEXITED(status) && WEXITSTATUS(status) == 0, "a start-up child failed");
}

void startup_lib(long n) {
    for (long i = 0; i < n; ++i)
        in_child([] {
            kvn_dfb_global_context.kvn_dfb = nullptr;
            kvn_dfb_global_context.kvn_layer_osd = nullptr;
            start_display();
        });
}

void startup_bare(long n) {
    for (long i = 0; i < n; ++i) in_child(bench_bare_start);
}

// The pairs -------------------------------------------------------------------
// One registered benchmark per pair.  Each of its iterations runs a block
// of library work and a block of bare work back to back, the first side
// alternating, and records the time per operation of each block; the pair's
// figure is the median block of each side (a percentile of the samples for
// the hand-over).  A block lasts about a millisecond, so a change of load
// lands on both sides, and a preemption spoils one block, not the figure.
struct Samples {
    std::vector<double> lib, bare;  // ns per operation
};
std::map<std::string, std::map<int, Samples>> g_samples;  // figure key -> pair -> samples

struct Unit {
    const char *key;
    void (*setup)();
    void (*lib)(long);
    void (*bare)(long);
    long block;       // operations per block
    long iterations;  // block pairs per run (quick: a tenth)
};

const Unit kUnits[] = {
    {"idle", idle_setup, idle_lib, idle_bare, 100, 200},
    {"focus", drain_all, focus_lib, focus_bare, 20, 100},
    {"commit", nullptr, commit_lib, commit_bare, 1, 80},
    {"read", nullptr, read_lib, read_bare, 200, 100},
};
const Unit kStartUp = {"startup", bench_fixed_tvmode, startup_lib, startup_bare, 1, 10};

void BM_Pair(benchmark::State &state, const Unit *u, int pair) {
    if (u->setup != nullptr) u->setup();
    u->lib(1);  // first-call costs (a file read into a cache, lazy binding) stay outside
    u->bare(1);
    Samples &out = g_samples[u->key][pair];
    long k = 0;
    for (auto _ : state) {
        bool lib_first = (k++ + pair) % 2 == 0;
        for (int half = 0; half < 2; ++half) {
            bool lib = (half == 0) == lib_first;
            int64_t t0 = now_ns();
            (lib ? u->lib : u->bare)(u->block);
            (lib ? out.lib : out.bare)
                .push_back(static_cast<double>(now_ns() - t0) / static_cast<double>(u->block));
        }
    }
    state.counters["lib_ns"] = bench_spread(out.lib).median;
    state.counters["bare_ns"] = bench_spread(out.bare).median;
}

// From a post in this thread to the flash player's thread returning from its
// wait with the key.  Library posts (kvnfw_send_event) and bare ones
// (PostEvent and WakeUp on the same buffer, the calls the library makes)
// alternate sample by sample into the same waiting thread.
void BM_HandOver(benchmark::State &state, int pair) {
    IDirectFBEventBuffer *events = app(FLASH_LITE)->events;
    drain_all();
    std::atomic<bool> done{false};
    std::atomic<int64_t> woke_ns{0};
    std::atomic<long> arrived{0};
    std::thread waiter([&] {
        while (!done.load()) {
            if (events->WaitForEventWithTimeout(events, 0, 100) != DFB_OK) continue;
            DFBEvent e;
            long keys = 0;
            while (events->GetEvent(events, &e) == DFB_OK) keys += is_posted_key(e);
            if (keys == 0) continue;
            woke_ns.store(now_ns());
            arrived.fetch_add(keys);
        }
    });
    Samples &out = g_samples["handover"][pair];
    long sent = 0;
    for (auto _ : state) {
        bool lib = (sent + pair) % 2 == 0;
        int64_t t0 = now_ns();
        if (lib)
            post_lib(1);
        else
            post_bare(1);
        ++sent;
        // Yielding, not spinning: on a loaded machine the waiter may have
        // to run on this thread's core.
        while (arrived.load() < sent) std::this_thread::yield();
        (lib ? out.lib : out.bare).push_back(static_cast<double>(woke_ns.load() - t0));
    }
    done = true;
    events->WakeUp(events);
    waiter.join();
}

struct Options {
    int pairs = 9;
    bool quick = false;
    bool startup = false;
} g_options;

void register_all() {
    const long scale = g_options.quick ? 10 : 1;
    auto add = [&](const Unit &u) {
        for (int p = 0; p < g_options.pairs; ++p)
            benchmark::RegisterBenchmark((std::string(u.key) + ":" + std::to_string(p)).c_str(),
                                         BM_Pair, &u, p)
                ->Iterations(std::max(1L, u.iterations / scale))
                ->UseRealTime();
    };
    if (g_options.startup) {
        // Before this process owns a display: the children must start clean.
        add(kStartUp);
        return;
    }
    for (const Unit &u : kUnits) add(u);
    for (int p = 0; p < g_options.pairs; ++p)
        benchmark::RegisterBenchmark(("handover:" + std::to_string(p)).c_str(), BM_HandOver, p)
            ->Iterations(8000 / scale)
            ->UseRealTime();
}

// Results -------------------------------------------------------------------
struct Figure {
    const char *name;
    const char *key;
    double quantile;  // of each side's samples within a pair
    const char *unit;
    double per_ns;  // units per nanosecond
    double goal;    // ratio goal; 0: none
};

const Figure kFigures[] = {
    {"start_up", "startup", 0.5, "ms", 1e-6, 0},
    {"idle_loop_pass", "idle", 0.5, "us", 1e-3, 1.2},
    {"focus_switch_11_windows", "focus", 0.5, "us", 1e-3, 1.2},
    {"handover_p99", "handover", 0.99, "us", 1e-3, 2.0},
    {"handover_p50", "handover", 0.5, "us", 1e-3, 0},
    {"settings_write_and_commit", "commit", 0.5, "ms", 1e-6, 1.3},
    {"settings_get_var_mem", "read", 0.5, "us", 1e-3, 2.0},
};

double quantile_of(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v.empty()
               ? 0
               : v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

void print_results() {
    printf("\n");
    for (const Figure &f : kFigures) {
        auto it = g_samples.find(f.key);
        if (it == g_samples.end()) continue;
        std::vector<double> lib, bare, ratio;
        for (const auto &pair : it->second) {
            if (pair.second.lib.empty() || pair.second.bare.empty()) continue;
            double l = quantile_of(pair.second.lib, f.quantile),
                   b = quantile_of(pair.second.bare, f.quantile);
            lib.push_back(l * f.per_ns);
            bare.push_back(b * f.per_ns);
            ratio.push_back(b > 0 ? l / b : 0);
        }
        if (ratio.empty()) continue;
        Spread r = bench_spread(ratio);
        printf(
            "FIGURE %s lib %.3f %s bare %.3f %s ratio %.2f iqr %.2f-%.2f range %.2f-%.2f pairs %zu "
            "goal ",
            f.name, bench_spread(lib).median, f.unit, bench_spread(bare).median, f.unit, r.median,
            r.q1, r.q3, r.min, r.max, ratio.size());
        if (f.goal > 0)
            printf("<=%.1f %s\n", f.goal, bench_verdict(r, f.goal).c_str());
        else
            printf("none -\n");
    }
}

// Fixed amounts of work ------------------------------------------------------
int fixed_work(const char *what, long count) {
    struct Work {
        const char *name;
        void (*setup)();
        void (*run)(long);
    };
    static const Work works[] = {
        {"idle", idle_setup, idle_lib},  {"idle-bare", idle_setup, idle_bare},
        {"focus", drain_all, focus_lib}, {"focus-bare", drain_all, focus_bare},
        {"post", drain_all, post_lib},   {"post-bare", drain_all, post_bare},
        {"commit", nullptr, commit_lib}, {"commit-bare", nullptr, commit_bare},
        {"read", nullptr, read_lib},     {"read-bare", nullptr, read_bare},
    };
    for (const Work &w : works) {
        if (strcmp(w.name, what) != 0) continue;
        if (w.setup != nullptr) w.setup();
        w.run(2);  // first-call costs (caches, lazy binding) stay outside
        syscall(SYS_getppid);
        CALLGRIND_TOGGLE_COLLECT;
        w.run(count);
        CALLGRIND_TOGGLE_COLLECT;
        syscall(SYS_getppid);
        return 0;
    }
    fprintf(stderr, "kvn_bench: unknown work %s\n", what);
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 4 && strcmp(argv[1], "--work") == 0) return fixed_work(argv[2], atol(argv[3]));
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--quick") == 0)
            g_options.quick = true;
        else if (strcmp(argv[i], "--startup") == 0)
            g_options.startup = true;
        else if (strcmp(argv[i], "--pairs") == 0 && i + 1 < argc)
            g_options.pairs = std::max(5, atoi(argv[++i]));
        else
            rest.push_back(argv[i]);
    }
    int rest_argc = static_cast<int>(rest.size());
    rest.push_back(nullptr);
    register_all();
    benchmark::Initialize(&rest_argc, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    print_results();
    return 0;
}
