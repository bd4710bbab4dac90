// Developers' applications, loaded from shared objects and run in threads
// of their own, as the player's applications are.
#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "apps.h"
#include "korvan_framework_lib.h"
#include "korvan_sim_app.h"
#include "screen.h"
#include "stop_signal.h"
#include "transcript.h"

namespace kvn_sim {
namespace {

constexpr auto kStartTime = std::chrono::seconds(5);

std::atomic<bool> g_stopping{false};
int plugin_stopping(void) { return g_stopping ? 1 : 0; }

// What the crash report needs, prepared before anything can crash: a
// signal handler may only write.
enum Phase { kIdle, kLoading, kStarting, kRunning };
constexpr int kMaxCodeRanges = 8;
struct CrashNote {
    std::atomic<pid_t> tid{0};
    std::atomic<int> phase{kIdle};
    char text[512] = {0};  // "korvan-sim: the plug-in application NAME (PATH) crashed with "
    // Where the plug-in's code is mapped, for crashes in threads it started itself.
    std::atomic<int> ranges{0};
    uintptr_t code[kMaxCodeRanges][2] = {};
};
CrashNote g_notes[KVN_APPLICATION_COUNT];

// Notes the executable segments of the object loaded at `base`.
void note_code(CrashNote &note, uintptr_t base) {
    struct Search {
        CrashNote *note;
        uintptr_t base;
    } search = {&note, base};
    dl_iterate_phdr(
        [](struct dl_phdr_info *info, size_t, void *data) {
            Search *s = static_cast<Search *>(data);
            if (info->dlpi_addr != s->base) return 0;
            int n = 0;
            for (int i = 0; i < info->dlpi_phnum && n < kMaxCodeRanges; ++i) {
                const ElfW(Phdr) &ph = info->dlpi_phdr[i];
                if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_X)) continue;
                s->note->code[n][0] = info->dlpi_addr + ph.p_vaddr;
                s->note->code[n][1] = info->dlpi_addr + ph.p_vaddr + ph.p_memsz;
                ++n;
            }
            s->note->ranges = n;
            return 1;
        },
        &search);
}

CrashNote *plugin_at(uintptr_t at) {
    for (CrashNote &note : g_notes) {
        for (int r = 0; r < note.ranges; ++r)
            if (at >= note.code[r][0] && at < note.code[r][1]) return &note;
    }
    return nullptr;
}

// The instruction the signal interrupted.  Asked before the stack: on 32-bit
// ARM the unwinder stops at the first frame without unwind tables, and C
// code has none there unless built with -funwind-tables, so a plug-in's own
// faulting instruction would not be among the frames.
uintptr_t interrupted_at(const void *context) {
    const ucontext_t *uc = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#elif defined(__arm__)
    return static_cast<uintptr_t>(uc->uc_mcontext.arm_pc);
#else
    return (void)uc, 0;
#endif
}

// The plug-in whose code the signal interrupted or with a frame on the
// calling thread's stack, or null.  The unwinder was loaded before any crash.
CrashNote *plugin_on_stack(const void *context) {
    if (CrashNote *note = plugin_at(interrupted_at(context))) return note;
    void *frames[64];
    int depth = backtrace(frames, 64);
    for (int f = 0; f < depth; ++f)
        if (CrashNote *note = plugin_at(reinterpret_cast<uintptr_t>(frames[f]))) return note;
    return nullptr;
}

pid_t thread_id() { return static_cast<pid_t>(syscall(SYS_gettid)); }

void write_all(const char *text) {
    ssize_t n = write(STDERR_FILENO, text, strlen(text));
    (void)n;
}

void on_crash(int sig, siginfo_t *, void *context) {
    pid_t self = thread_id();
    CrashNote *culprit = nullptr;
    for (CrashNote &note : g_notes)
        if (note.phase != kIdle && note.tid == self) culprit = &note;
    // A thread the plug-in started itself (or one running its callback)
    // has the plug-in's code on its stack.
    bool own_thread = culprit == nullptr && (culprit = plugin_on_stack(context)) != nullptr;
    if (culprit != nullptr) {
        int phase = culprit->phase;
        write_all(culprit->text);
        write_all(sig == SIGSEGV  ? "SIGSEGV"
                  : sig == SIGBUS ? "SIGBUS"
                  : sig == SIGFPE ? "SIGFPE"
                  : sig == SIGILL ? "SIGILL"
                                  : "SIGABRT");
        if (own_thread) write_all(" in a thread of its own");
        write_all(phase == kLoading    ? " while loading\n"
                  : phase == kStarting ? " while starting\n"
                                       : " while running\n");
        // Ended as the kernel ends a crashed process: the threads still
        // running are the crash's, not leaks for a sanitizer's exit check.
        syscall(SYS_exit_group, phase == kLoading || phase == kStarting ? 4 : 5);
    }
    // Not a plug-in's thread: the simulator's own fault, left to the system.
    signal(sig, SIG_DFL);
}

// Wakes the application's window, if it is still registered: its buffer
// lives as long as its record is in the list, which this lock keeps.
void wake_window(int id) {
    pthread_mutex_lock(&kvn_mutex_windows);
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next) {
        if (w->window_id == id && w->events != nullptr) {
            w->events->WakeUp(w->events);
            break;
        }
    }
    pthread_mutex_unlock(&kvn_mutex_windows);
}

class PluginApp : public PlayerApp {
  public:
    PluginApp(const AppOption &option, kvn_sim_app_main_fn entry) : option_(option), entry_(entry) {
        app_.version = KVN_SIM_APP_VERSION;
        app_.window_id = option.window_id;
        app_.name = window_id_str[option.window_id];
        app_.screen_width = g_screen.width;
        app_.screen_height = g_screen.height;
        app_.stopping = plugin_stopping;
    }
    ~PluginApp() override {
        if (thread_.joinable()) thread_.join();
    }
    void start() {
        CrashNote &note = g_notes[option_.window_id];
        note.phase = kStarting;
        thread_ = std::thread([this, &note] {
            note.tid = thread_id();
            result_ = entry_(&app_);
            note.phase = kIdle;
            ended_ = true;
        });
    }
    int id() const override { return option_.window_id; }
    void ask_to_stop() override {
        g_stopping = true;
        wake_window(option_.window_id);
    }
    bool ended() const override { return ended_; }
    bool finish(std::string &failure) override {
        if (thread_.joinable()) thread_.join();
        // A record left in the list would point into the plug-in's memory.
        if (kvn_window *left = get_window_node(option_.window_id)) {
            say(std::string("  (") + app_.name +
                " returned with its window still registered: unregistering it)");
            unregister_window(left);
            kvn_window_clean_up(left);
        }
        if (result_ == 0) return true;
        failure = std::string("the plug-in application ") + app_.name + " (" + option_.path +
                  ") returned " + std::to_string(result_);
        return false;
    }
    int result() const { return result_; }

  private:
    AppOption option_;
    kvn_sim_app_main_fn entry_;
    kvn_sim_app app_;
    std::thread thread_;
    std::atomic<bool> ended_{false};
    int result_ = 0;
};

}  // namespace

void report_plugin_crashes() {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = on_crash;
    sa.sa_flags = SA_SIGINFO | SA_RESETHAND;
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(sig, &sa, nullptr);
    // The first backtrace loads the unwinder, which a signal handler must not.
    void *frame;
    backtrace(&frame, 1);
}

std::unique_ptr<PlayerApp> start_plugin_app(const AppOption &option, std::string &error) {
    const char *name = window_id_str[option.window_id];
    std::string who = std::string("the plug-in application ") + name + " (" + option.path + ")";
    struct stat st;
    if (stat(option.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = who + ": no such file";
        return nullptr;
    }
    CrashNote &note = g_notes[option.window_id];
    snprintf(note.text, sizeof note.text, "korvan-sim: %s crashed with ", who.c_str());
    note.tid = thread_id();
    note.phase = kLoading;
    // Never unloaded: its code and its window record must outlive every
    // thread and list that may still point into it.
    void *handle = dlopen(option.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    note.phase = kIdle;
    if (handle == nullptr) {
        const char *why = dlerror();
        error = who + ": cannot load it: " + (why ? why : "unknown error");
        return nullptr;
    }
    struct link_map *map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) note_code(note, map->l_addr);
    auto entry = reinterpret_cast<kvn_sim_app_main_fn>(dlsym(handle, KVN_SIM_APP_ENTRY));
    if (entry == nullptr) {
        error = who + ": it has no entry point " KVN_SIM_APP_ENTRY " (see korvan_sim_app.h)";
        return nullptr;
    }
    // A second copy of the library would have a display and a window list
    // of its own, which nobody draws or sends keys to.
    Dl_info theirs, ours;
    void *function = dlsym(handle, "register_window");
    if (function != nullptr && dladdr(function, &theirs) != 0 &&
        dladdr(reinterpret_cast<void *>(&register_window), &ours) != 0 &&
        theirs.dli_fbase != ours.dli_fbase) {
        error = who + ": it links another copy of libkorvan_framework_lib than the simulator's";
        return nullptr;
    }
    std::unique_ptr<PluginApp> app(new PluginApp(option, entry));
    app->start();
    auto deadline = std::chrono::steady_clock::now() + kStartTime;
    while (get_window_node(option.window_id) == nullptr) {
        if (app->ended()) {
            error = who + ": its entry point returned " + std::to_string(app->result()) +
                    " before it registered a window";
            std::string ignored;
            app->finish(ignored);
            return nullptr;
        }
        // A stop meanwhile is no failure of the plug-in: the caller's stop
        // asks it to end, as one that is still running after 5 s.
        if (!sleep_unless_stopped(std::chrono::milliseconds(10)))
            return std::unique_ptr<PlayerApp>(app.release());
        if (std::chrono::steady_clock::now() > deadline) {
            error = who + ": it registered no window within 5 s";
            return std::unique_ptr<PlayerApp>(app.release());
        }
    }
    note.phase = kRunning;
    say(std::string("  plug-in ") + name + " started from " + option.path);
    return std::unique_ptr<PlayerApp>(app.release());
}

}  // namespace kvn_sim
