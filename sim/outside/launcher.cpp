#include "launcher.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "live_window.h"
#include "messages.h"
#include "player_link.h"
#include "recorder.h"
#include "sim_script.h"
#include "status.h"
#include "stop_signal.h"
#include "view_channel.h"
#include "web_server.h"

namespace kvn_sim {
namespace {

std::string resolved(const std::string &path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) != nullptr ? std::string(real) : path;
}

std::string own_executable() {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    exe[n] = '\0';
    return exe;
}

// kvn-sandbox beside the executable (an installed copy), else the one of
// the source tree it was built from.
std::string find_sandbox(const std::string &exe) {
    for (const std::string &candidate :
         {folder_of(exe) + "/kvn-sandbox", std::string(KVN_SOURCE_DIR) + "/sandbox/kvn-sandbox"}) {
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

bool writable_folder(const std::string &dir, bool create, std::string &error) {
    if (create && mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot be made: " + std::string(strerror(errno));
        return false;
    }
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        error = "does not exist";
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = "is not a folder";
        return false;
    }
    if (access(dir.c_str(), W_OK | X_OK) != 0) {
        error = "is not writable";
        return false;
    }
    return true;
}

// The folders the sandbox shares: the player writes only into `writable`
// (the shots); it reads the script, the plug-ins and its own program from
// `read_only`.
struct Shares {
    std::vector<std::string> writable, read_only;
    std::vector<std::string> all() const {
        std::vector<std::string> dirs = writable;
        dirs.insert(dirs.end(), read_only.begin(), read_only.end());
        return dirs;
    }
};

// What the player will find and write inside the sandbox, checked here so
// that a mistake gets its own message instead of the sandbox's.
int check_paths(const Options &o, Shares &shares) {
    std::string error;
    std::vector<Command> commands;
    if (!o.script.empty() && !load_script(o.script, commands, error))
        return refuse(kStatusBadInput, o.script + ": " + error);
    std::string shots = absolute_path(o.shots);
    if (!writable_folder(shots, true, error))
        return refuse(kStatusBadInput, "the screenshot folder " + shots + " " + error);
    shares.writable.push_back(resolved(shots));
    if (!o.trace.empty()) {
        std::string trace = absolute_path(o.trace);
        struct stat st;
        if (stat(trace.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return refuse(kStatusBadInput, "--trace " + trace + " is a folder, not a file");
        if (!writable_folder(folder_of(trace), false, error))
            return refuse(kStatusBadInput, "the folder of --trace " + trace + " " + error);
    }
    if (!o.script.empty()) shares.read_only.push_back(resolved(folder_of(absolute_path(o.script))));
    // expect-shot reads its stored pictures, and writes them with --update-shots.
    std::string stored = stored_shots_folder(o);
    if (o.update_shots) {
        if (stored.empty())
            return refuse(kStatusBadInput, "--update-shots needs --script or --stored-shots");
        if (!writable_folder(stored, true, error))
            return refuse(kStatusBadInput, "the stored shots folder " + stored + " " + error);
        if (resolved(stored) != shares.writable.front())
            shares.writable.push_back(resolved(stored));
    } else if (!stored.empty() && access(stored.c_str(), X_OK) == 0) {
        shares.read_only.push_back(resolved(stored));
    }
    for (const AppOption &app : o.apps) {
        std::string dir = folder_of(absolute_path(app.path));
        struct stat st;
        if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return refuse(kStatusPluginStart, "--app " + app.path + ": no such file");
        shares.read_only.push_back(resolved(dir));
    }
    return kStatusOk;
}

// Whether the sandbox would share every one of the folders: it alone
// judges them (--check-folder), and says why when it would not.
bool sandbox_shares(const std::string &sandbox, const std::vector<std::string> &dirs, bool quiet) {
    std::vector<std::string> args = {sandbox, "--check-folder"};
    args.insert(args.end(), dirs.begin(), dirs.end());
    std::vector<char *> raw;
    for (std::string &a : args) raw.push_back(&a[0]);
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child;
    int wait_status = 0;
    bool spawned =
        posix_spawn(&child, sandbox.c_str(), &actions, nullptr, raw.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    while (spawned && waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
    }
    return spawned && WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
}

int pass_status_on(int wait_status, const std::vector<std::string> &binds) {
    if (WIFSIGNALED(wait_status)) {
        fprintf(stderr, "korvan-sim: the sandbox ended by signal %d\n", WTERMSIG(wait_status));
        return kStatusSignalBase + WTERMSIG(wait_status);
    }
    int status = WEXITSTATUS(wait_status);
    if (status == kStatusSandbox) {
        std::string shared;
        for (const std::string &b : binds) shared += " " + b;
        fprintf(stderr,
                "korvan-sim: the sandbox refused to run the player (exit status 125, its reason "
                "above).\n"
                "  Folders it was asked to share:%s\n"
                "  It never shares a system folder (/, /usr, /etc, /opt, /tmp itself, ...).\n",
                shared.c_str());
    }
    return status;
}

// Until the sandbox starts nothing needs putting in order, and a script or
// record FIFO may hold this thread: a signal ends the launcher here.
void stop_at_once_on_signal() {
    on_stop_request([](int signal_number) {
        char text[96];
        int n =
            snprintf(text, sizeof text,
                     "korvan-sim: stopped by signal %d before the player started\n", signal_number);
        ssize_t written = write(STDERR_FILENO, text, static_cast<size_t>(n));
        (void)written;
        _exit(kStatusSignalBase + signal_number);
    });
}

// A session at the desk gets the window; commands piped in, or a desk in a
// web page, do not.
Options settled(const Options &given) {
    Options o = given;
    if (o.window == Options::Window::Auto)
        o.window = o.script.empty() && o.web.empty() && isatty(STDIN_FILENO) &&
                           (getenv("DISPLAY") || getenv("WAYLAND_DISPLAY"))
                       ? Options::Window::On
                       : Options::Window::Off;
    return o;
}

// What runs on this machine outside any sandbox: the build tree (or
// installed prefix), with the libraries and this program, and the sandbox's
// folder.  The player sees them read-only (one in a system folder it sees
// read-only anyway), and the shots may not go there.  The source tree it was
// built from is read-only too: the tests' files lie there (the sanitizers'
// suppressions among them).  So is the emulator a build for another
// processor runs through.
int share_own_trees(const std::string &sandbox, const std::string &exe,
                    const std::vector<std::string> &emulator, Shares &shares) {
    for (const std::string &tree :
         {resolved(folder_of(folder_of(exe))), resolved(folder_of(sandbox))}) {
        if (!sandbox_shares(sandbox, {tree}, true)) continue;
        for (const std::string &dir : shares.writable)
            if (lies_in(dir, tree))
                return refuse(
                    kStatusBadInput,
                    std::string(dir == shares.writable.front() ? "the screenshot folder "
                                                               : "the stored shots folder ") +
                        dir + " lies in " + tree +
                        ", which korvan-sim runs from and keeps read-only for the "
                        "player; give it a folder of your own");
        shares.read_only.push_back(tree);
    }
    std::string source = resolved(KVN_SOURCE_DIR);
    if (access(source.c_str(), X_OK) == 0 && sandbox_shares(sandbox, {source}, true))
        shares.read_only.push_back(source);
    for (const std::string &w : emulator) {
        struct stat st;
        if (w[0] != '/' || stat(w.c_str(), &st) != 0) continue;
        std::string dir = resolved(S_ISDIR(st.st_mode) ? w : folder_of(w));
        if (sandbox_shares(sandbox, {dir}, true)) shares.read_only.push_back(dir);
    }
    return kStatusOk;
}

// A build for another processor runs through the emulator it was tested
// with (KVN_EMULATOR, words without spaces: scripts/qemu-run QEMU ROOT).
std::vector<std::string> emulator_words() {
    std::vector<std::string> emulator;
    std::istringstream words(getenv("KVN_EMULATOR") ? getenv("KVN_EMULATOR") : "");
    for (std::string word; words >> word;) emulator.push_back(word);
    return emulator;
}

// kvn-sandbox's command line: each folder shared once, writable or not, then
// the player.
std::vector<std::string> sandbox_command(const std::string &sandbox, Shares shares,
                                         const std::vector<std::string> &emulator,
                                         const std::string &exe, const Options &inner) {
    std::vector<std::string> args = {sandbox};
    std::sort(shares.writable.begin(), shares.writable.end());
    std::sort(shares.read_only.begin(), shares.read_only.end());
    shares.read_only.erase(std::unique(shares.read_only.begin(), shares.read_only.end()),
                           shares.read_only.end());
    for (const std::string &dir : shares.writable) args.insert(args.end(), {"--bind", dir});
    for (const std::string &dir : shares.read_only)
        if (!std::binary_search(shares.writable.begin(), shares.writable.end(), dir))
            args.insert(args.end(), {"--ro-bind", dir});
    args.push_back("--");
    args.insert(args.end(), emulator.begin(), emulator.end());
    args.push_back(exe);
    for (const std::string &a : to_arguments(inner)) args.push_back(a);
    return args;
}

// Starts the sandbox with the player's end of the channel and the trace;
// the child's process, or -1 after saying why.
pid_t start_sandbox(std::vector<std::string> args, int player_end, int trace) {
    std::vector<char *> raw, env;
    for (std::string &a : args) raw.push_back(&a[0]);
    raw.push_back(nullptr);
    std::string variable = std::string(kControlFdVariable) + "=" + std::to_string(player_end);
    for (char **e = environ; *e != nullptr; ++e)
        if (strncmp(*e, kControlFdVariable, strlen(kControlFdVariable)) != 0) env.push_back(*e);
    env.push_back(&variable[0]);
    env.push_back(nullptr);
    const char *cannot = "korvan-sim: cannot start the sandbox; refusing to run outside it\n";
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        tell(std::string("cannot start the sandbox: ") + strerror(errno));
        return -1;
    }
    if (child == 0) {
        // The player's end and the trace go through the sandbox; nothing
        // else of the launcher's does.
        fcntl(player_end, F_SETFD, 0);
        if (trace >= 0) fcntl(trace, F_SETFD, 0);
        // The player runs in a session of its own, cut off from the
        // terminal's input; Ctrl-C at the terminal reaches this launcher
        // alone, which stops the player in order through the channel
        // instead of the terminal killing the sandbox around it.
        setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        execve(args[0].c_str(), raw.data(), env.data());
        ssize_t n = write(STDERR_FILENO, cannot, strlen(cannot));
        (void)n;
        _exit(kStatusSandbox);
    }
    return child;
}

// The web page and the live window, while the player runs; the status of
// one that could not open, which stops the player.
int show_player(const Options &o, PlayerLink &link, WebDesk &web) {
    std::string error;
    if (!o.web.empty() && !web.start(o, link, error)) {
        tell("--web: " + error);
        request_stop(0);
        return kStatusCannotAct;
    }
    if (o.window == Options::Window::On) {
        if (!open_live_window(error)) {
            tell("--window: " + error + " (--no-window runs without it)");
            request_stop(0);
            return kStatusCannotAct;
        }
        run_live_window(link);
    }
    return kStatusOk;
}

}  // namespace

int launch(const Options &given) {
    stop_at_once_on_signal();
    Options o = settled(given);
    if (o.window == Options::Window::Off && o.web.empty() && !o.record.empty())
        return refuse(kStatusBadInput,
                      "--record writes the keys pressed in the live window, and there is none");
    Shares shares;
    if (int status = check_paths(o, shares)) return status;
    std::string exe = own_executable();
    std::string sandbox = exe.empty() ? std::string() : find_sandbox(exe);
    if (sandbox.empty())
        return refuse(kStatusSandbox,
                      "kvn-sandbox not found beside korvan-sim nor in " KVN_SOURCE_DIR
                      "/sandbox; refusing to run outside the sandbox");
    if (!sandbox_shares(sandbox, shares.all(), false))
        return refuse(kStatusSandbox,
                      "the sandbox will not share that folder; give --shots, --trace, --script and "
                      "--app paths in a folder of your own");
    std::vector<std::string> emulator = emulator_words();
    if (int status = share_own_trees(sandbox, exe, emulator, shares)) return status;
    // The record and the trace are the caller's files, opened here and
    // never shared by their folders: the player writes the trace through
    // the descriptor it inherits.
    Recorder recorder;
    std::string error;
    if (!o.record.empty() && !recorder.open(absolute_path(o.record), error))
        return refuse(kStatusBadInput, "--record: " + error);
    Options inner = o;
    inner.record.clear();
    int trace = -1;
    if (!o.trace.empty()) {
        trace = open_output(absolute_path(o.trace), error);
        if (trace < 0) return refuse(kStatusBadInput, "--trace: " + error);
        inner.trace = "/proc/self/fd/" + std::to_string(trace);
    }
    int channel[2];
    if (!make_channel(channel))
        return refuse(kStatusCannotAct, std::string("cannot make a channel: ") + strerror(errno));
    on_stop_request(nullptr);
    if (stop_requested())
        return refuse(
            kStatusSignalBase + stop_signal(),
            "stopped by signal " + std::to_string(stop_signal()) + " before the player started");
    pid_t child =
        start_sandbox(sandbox_command(sandbox, shares, emulator, exe, inner), channel[1], trace);
    if (child < 0) return kStatusCannotAct;
    close(channel[1]);
    if (trace >= 0) close(trace);
    int fd = channel[0];
    // A signal, or the window closed, stops the player in order inside
    // (also one that came while the sandbox was starting).
    on_stop_request([fd](int signal_number) {
        ControlMessage m;
        m.type = kMsgStop;
        m.value = static_cast<uint32_t>(signal_number);
        send_message(fd, m);
    });
    PlayerLink link(fd);
    if (recorder.active()) link.add_recorder(&recorder);
    link.start();
    WebDesk web;
    int window_status = show_player(o, link, web);
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
    }
    // A sandbox killed by a signal leaves the player to finish its stop on
    // its own: the end of the channel says it has.
    link.wait_for_end(std::chrono::seconds(3));
    web.stop();
    link.remove_recorder(&recorder);
    recorder.close(Recorder::Clock::now());
    // The channel stays open to the end: a late signal may still write to it.
    int status = pass_status_on(wait_status, shares.all());
    return window_status != kStatusOk ? window_status : status;
}

}  // namespace kvn_sim
