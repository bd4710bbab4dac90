// korvan-sim: runs the player's applications on the framework library, on
// real DirectFB, with the platform stand-ins around them made visible.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <png.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "korvan_framework_lib.h"
#include "osd_service.h"
#include "host_stub.h"
#include "input_driver.h"
#include "kvn_trace.h"
#include "sim_script.h"
#include "smpoutd_api.h"

using namespace kvn_sim;

namespace {

const char *kFont = "/opt/kvn/share/fonts/decker.ttf";
const char *kCallsLog = "/run/kvn-fakes/calls.log";

struct Options {
    std::string script;
    std::string shots = ".";
    std::string trace;
    unsigned divisor = 1;
    bool quiet = false;
};

[[noreturn]] void usage(int status) {
    fprintf(status ? stderr : stdout,
            "usage: korvan-sim [--script FILE] [--shots DIR] [--trace FILE] [--time-divisor N] [--quiet]\n"
            "  Without --script, commands are read from standard input, one a line.\n");
    exit(status);
}

Options parse_options(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(2);
            return argv[++i];
        };
        if (a == "--script") o.script = value();
        else if (a == "--shots") o.shots = value();
        else if (a == "--trace") o.trace = value();
        else if (a == "--time-divisor") {
            std::string v = value();
            char *end = nullptr;
            unsigned long n = strtoul(v.c_str(), &end, 10);
            if (*end != '\0' || n < 1 || n > 1000) {
                fprintf(stderr, "korvan-sim: --time-divisor needs a number from 1 to 1000\n");
                exit(2);
            }
            o.divisor = (unsigned)n;
        } else if (a == "--quiet") o.quiet = true;
        else if (a == "--help" || a == "-h") usage(0);
        else {
            fprintf(stderr, "korvan-sim: unknown option %s\n", a.c_str());
            usage(2);
        }
    }
    return o;
}

std::string absolute(const std::string &path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

std::string dir_of(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A power key in standby runs reboot and shutdown programs: never let that
// reach the user's machine.  Outside the sandbox we re-run ourselves inside
// it, and refuse when that cannot be done.
void enter_sandbox(int argc, char **argv, Options &o) {
    if (getenv("KVN_IN_SANDBOX") != nullptr) {
        if (access(kCallsLog, W_OK) != 0) {
            fprintf(stderr, "korvan-sim: KVN_IN_SANDBOX is set but %s is missing: not inside the sandbox; refusing to run\n",
                    kCallsLog);
            exit(125);
        }
        return;
    }
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        fprintf(stderr, "korvan-sim: cannot find my own executable; refusing to run outside the sandbox\n");
        exit(125);
    }
    exe[n] = '\0';
    std::vector<std::string> candidates = {dir_of(exe) + "/../../sandbox/kvn-sandbox",
                                           dir_of(exe) + "/../sandbox/kvn-sandbox",
                                           std::string(KVN_SOURCE_DIR) + "/sandbox/kvn-sandbox"};
    std::string sandbox;
    for (const auto &c : candidates) {
        if (access(c.c_str(), X_OK) == 0) {
            sandbox = c;
            break;
        }
    }
    if (sandbox.empty()) {
        fprintf(stderr, "korvan-sim: sandbox/kvn-sandbox not found; refusing to run outside the sandbox\n");
        exit(125);
    }
    o.shots = absolute(o.shots);
    mkdir(o.shots.c_str(), 0755);
    std::vector<std::string> binds;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) binds.push_back(cwd);
    binds.push_back(o.shots);
    if (!o.trace.empty()) binds.push_back(dir_of(absolute(o.trace)));
    if (!o.script.empty()) binds.push_back(dir_of(absolute(o.script)));
    std::vector<std::string> args = {sandbox};
    for (const auto &b : binds) {
        // The private /tmp of the sandbox is the player's; only a folder of
        // the user's below it may be shared, never the whole of it.
        if (b == "/tmp" || b == "/" || b == "/run") continue;
        args.push_back("--bind");
        args.push_back(b);
    }
    args.push_back("--");
    args.push_back(exe);
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        args.push_back(a);
        if ((a == "--shots" || a == "--trace" || a == "--script") && i + 1 < argc) {
            args.push_back(absolute(argv[++i]));
        }
    }
    std::vector<char *> raw;
    for (auto &a : args) raw.push_back(const_cast<char *>(a.c_str()));
    raw.push_back(nullptr);
    execv(sandbox.c_str(), raw.data());
    fprintf(stderr, "korvan-sim: cannot start the sandbox %s: %s; refusing to run outside it\n", sandbox.c_str(),
            strerror(errno));
    exit(125);
}

// ------------------------------------------------------------------ drawing

IDirectFBFont *g_font_big = nullptr;
IDirectFBFont *g_font = nullptr;
int g_screen_w = 1280, g_screen_h = 720;
bool g_quiet = false;
std::mutex g_print_mutex;

void say(const std::string &text) {
    if (g_quiet) return;
    std::lock_guard<std::mutex> lock(g_print_mutex);
    fprintf(stdout, "%s\n", text.c_str());
    fflush(stdout);
}

void text_at(IDirectFBSurface *s, IDirectFBFont *font, const std::string &text, int x, int y) {
    s->SetFont(s, font);
    s->DrawString(s, text.c_str(), -1, x, y, DSTF_TOPLEFT);
}

// A window of the simulator's own (not a player application): it stays
// above the applications, which the framework raises among themselves.
struct Overlay {
    IDirectFBWindow *window = nullptr;
    IDirectFBSurface *surface = nullptr;
    int w = 0, h = 0;
    void create(int x, int y, int width, int height) {
        w = width;
        h = height;
        DFBWindowDescription d;
        memset(&d, 0, sizeof d);
        d.flags = (DFBWindowDescriptionFlags)(DWDESC_POSX | DWDESC_POSY | DWDESC_WIDTH | DWDESC_HEIGHT |
                                              DWDESC_PIXELFORMAT);
        d.posx = x;
        d.posy = y;
        d.width = width;
        d.height = height;
        d.pixelformat = DSPF_ARGB;
        IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
        if (layer->CreateWindow(layer, &d, &window) != DFB_OK || window->GetSurface(window, &surface) != DFB_OK) {
            fprintf(stderr, "korvan-sim: cannot create an overlay window\n");
            exit(3);
        }
        window->SetStackingClass(window, DWSC_UPPER);
        window->SetOpacity(window, 0);
    }
    void show(bool on) { window->SetOpacity(window, on ? 0xff : 0); }
    void release() {
        if (surface) surface->Release(surface);
        if (window) window->Release(window);
        surface = nullptr;
        window = nullptr;
    }
};

// ------------------------------------------------------------------ dialog renderer

struct DialogState {
    std::mutex mutex;
    bool page_up = false;
    int page = 0;
    std::vector<std::string> options;
    std::string highlight, ok_label, back_label, question, heading;
    bool countdown_up = false;
    std::string title, message;
    std::string notice;
    long long notice_until = 0;
    Overlay overlay;
} g_dialog;

long long now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::vector<std::string> split(const std::string &text, char by) {
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, by)) out.push_back(item);
    return out;
}

std::string squeeze(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out += c;
    }
    while (!out.empty() && out[0] == ' ') out.erase(0, 1);
    return out;
}

// Draws with g_dialog.mutex held.
void draw_dialog_locked() {
    DialogState &d = g_dialog;
    IDirectFBSurface *s = d.overlay.surface;
    bool notice = !d.notice.empty() && now_ms() < d.notice_until;
    if (!d.page_up && !d.countdown_up && !notice) {
        d.overlay.show(false);
        return;
    }
    s->SetColor(s, 0x10, 0x18, 0x40, 0xff);
    s->FillRectangle(s, 0, 0, d.overlay.w, d.overlay.h);
    s->SetColor(s, 0xc0, 0xc0, 0xff, 0xff);
    s->DrawRectangle(s, 0, 0, d.overlay.w, d.overlay.h);
    int y = 16;
    s->SetColor(s, 0xff, 0xff, 0xff, 0xff);
    if (d.countdown_up) {
        text_at(s, g_font_big, d.title, 24, y);
        y += 60;
        text_at(s, g_font, squeeze(d.message), 24, y);
        y += 60;
        s->SetColor(s, 0xff, 0xe0, 0x40, 0xff);
        text_at(s, g_font, "[OK/RETURN] " + d.ok_label + "    [BACKSPACE] " + d.back_label, 24, y);
    } else if (d.page_up) {
        std::string heading = d.page == 24 ? "Resolution" : d.page == 25 ? "Frequency" : "Confirm";
        if (!d.heading.empty()) heading = d.heading;
        text_at(s, g_font_big, heading, 24, y);
        y += 56;
        if (!d.question.empty()) {
            text_at(s, g_font, d.question, 24, y);
            y += 34;
        }
        for (const auto &option : d.options) {
            bool lit = option == d.highlight || (d.page == 28 && d.options.size() == 1);
            if (lit) {
                s->SetColor(s, 0x40, 0x80, 0xff, 0xff);
                s->FillRectangle(s, 18, y - 2, d.overlay.w - 36, 30);
            }
            s->SetColor(s, 0xff, 0xff, 0xff, 0xff);
            text_at(s, g_font, (lit ? "> " : "  ") + option, 30, y);
            y += 34;
        }
        s->SetColor(s, 0xff, 0xe0, 0x40, 0xff);
        text_at(s, g_font, "[RETURN] " + d.ok_label + "    [BACKSPACE] " + d.back_label, 24, d.overlay.h - 40);
    }
    if (notice) {
        s->SetColor(s, 0xff, 0x80, 0x80, 0xff);
        text_at(s, g_font, d.notice, 24, d.overlay.h - 80);
    }
    s->Flip(s, nullptr, DSFLIP_NONE);
    d.overlay.show(true);
}

void osd_renderer(const osd_call *call, void *) {
    DialogState &d = g_dialog;
    std::lock_guard<std::mutex> lock(d.mutex);
    std::string text(call->text, strnlen(call->text, sizeof call->text));
    auto fields = dialog_fields(text);
    auto field = [&](const char *key, std::string &out) {
        for (auto &f : fields)
            if (f.first == key) {
                out = f.second;
                return true;
            }
        return false;
    };
    std::string value;
    switch (call->command) {
    case 9:
        if (call->mode == 1) {
            d.page_up = false;
            break;
        }
        if (field("set", value)) d.page = atoi(value.c_str());
        if (field("opts", value)) {
            std::string del = ",";
            field("optdel", del);
            d.options = split(value, del.empty() ? ',' : del[0]);
            d.highlight.clear();
            d.ok_label = d.back_label = d.question = d.heading = "";
            field("ntt", d.ok_label);
            field("rtt", d.back_label);
            field("acm", d.question);
            field("inm", d.heading);
        }
        field("fopt", d.highlight);
        d.page_up = true;
        break;
    case 13:
        if (field("msg", value)) {
            d.notice = value;
            d.notice_until = now_ms() + 3000;
        }
        break;
    case 40:
        if (call->mode == 0 && field("opts", value)) {
            d.notice = "TV mode: " + split(value, ',').front();
            d.notice_until = now_ms() + 2000;
        }
        break;
    case 42:
        if (call->mode == 1) {
            d.countdown_up = false;
            break;
        }
        field("tit", d.title);
        field("msg", d.message);
        field("ntt", d.ok_label);
        field("rtt", d.back_label);
        d.countdown_up = true;
        break;
    default:
        return;
    }
    draw_dialog_locked();
}

// ------------------------------------------------------------------ applications

const int kApps[] = {BROWSER, ADVANCE_MEDIA_PLAYER, PHOTO_PLAYER, SCREEN_SAVER, FLASH_LITE, TVMODE};
const uint32_t kColours[KVN_APPLICATION_COUNT] = {0, 0, 0x204060, 0x603020, 0x206030, 0x404040,
                                                  0, 0, 0x503060, 0, 0x306060};

struct SimApp {
    int id = 0;
    kvn_window record;
    std::thread thread;
    std::atomic<bool> running{true};
    std::atomic<bool> dirty{true};
    std::string last_key = "-";
    std::string last_result = "-";
    std::string args;

    void draw() {
        IDirectFBSurface *s = record.surface;
        uint32_t c = kColours[id];
        s->SetColor(s, (c >> 16) & 0xff, (c >> 8) & 0xff, c & 0xff, 0xff);
        s->FillRectangle(s, 0, 0, g_screen_w, g_screen_h);
        s->SetColor(s, 0xff, 0xff, 0xff, 0xff);
        text_at(s, g_font_big, window_id_str[id], 40, 80);
        int y = 160;
        text_at(s, g_font, std::string("focus: ") + (is_self_on_focus(id) ? "yes" : "no"), 40, y);
        text_at(s, g_font, "last key: " + last_key + " (" + last_result + ")", 40, y += 34);
        if (!args.empty()) text_at(s, g_font, "arguments: " + args, 40, y += 34);
        s->Flip(s, nullptr, DSFLIP_NONE);
    }

    void loop() {
        while (running) {
            if (id == TVMODE) {
                check_tvmode_fifo();
                check_hdmi_state_changed();
            }
            if (dirty.exchange(false)) draw();
            if (record.events->WaitForEventWithTimeout(record.events, 0, 20) != DFB_OK) continue;
            DFBEvent event;
            while (running && record.events->GetEvent(record.events, &event) == DFB_OK) {
                if (event.clazz != DFEC_WINDOW) continue;
                DFBWindowEvent &w = event.window;
                if (w.type != DWET_KEYDOWN) continue;
                DFBInputDeviceKeySymbol key = w.key_symbol;
                last_key = key_name(key);
                if (key == DIKS_CUSTOM0 && record.invoke_args != nullptr) {
                    args.clear();
                    for (int i = 0; i < record.invoke_args->argc; ++i) args += std::string(record.invoke_args->argv[i]) + " ";
                }
                say(std::string("  ") + window_id_str[id] + " got key " + last_key);
                // The menu and the standby keep this thread until they end:
                // show the key that started them first.
                last_result = "handling";
                draw();
                int result = kvn_default_event_handling(&record, &w);
                last_result = result == 0 ? "framework key" : "own key";
                dirty = true;
            }
        }
    }
};

SimApp g_apps[sizeof kApps / sizeof kApps[0]];

// ------------------------------------------------------------------ platform watcher

struct Watcher {
    std::mutex mutex;  // one pass at a time: the script runner forces one before it checks
    std::thread thread;
    std::atomic<bool> running{true};
    off_t calls_offset = 0;
    std::string calls_partial, pipe_partial, tolu_partial;
    int tolu_fd = -1;
    int focus = -2;
    std::string status;
    Overlay bar, black;
    bool black_shown = false;

    void lines_from(int fd, std::string &partial, char end, const char *tag) {
        char buffer[1024];
        for (;;) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            partial.append(buffer, n);
        }
        size_t at;
        while ((at = partial.find(end)) != std::string::npos) {
            std::string line = partial.substr(0, at);
            partial.erase(0, at + 1);
            kvn_trace("%s %s", tag, line.c_str());
        }
    }

    void pass() {
        std::lock_guard<std::mutex> lock(mutex);
        int fd = open(kCallsLog, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            if (lseek(fd, calls_offset, SEEK_SET) == calls_offset) {
                char buffer[1024];
                ssize_t n;
                while ((n = read(fd, buffer, sizeof buffer)) > 0) {
                    calls_offset += n;
                    calls_partial.append(buffer, n);
                }
            }
            close(fd);
            size_t at;
            while ((at = calls_partial.find('\n')) != std::string::npos) {
                kvn_trace("run %s", calls_partial.substr(0, at).c_str());
                calls_partial.erase(0, at + 1);
            }
        }
        if (kvn_command_pipe >= 0) lines_from(kvn_command_pipe, pipe_partial, '\n', "pipe");
        if (tolu_fd >= 0) lines_from(tolu_fd, tolu_partial, '\0', "reply");
        kvn_window *focused = get_window_on_focus();
        int now = focused ? focused->window_id : -1;
        if (now != focus) {
            focus = now;
            kvn_trace("focus %s", now >= 0 && now < KVN_APPLICATION_COUNT ? window_id_str[now] : "none");
            for (auto &app : g_apps) app.dirty = true;
        }
        bool picture = smpoutd_stub_picture_on() != 0;
        if (picture == black_shown) {
            black_shown = !picture;
            black.show(black_shown);
            // The simulator's own status stays readable over the dark picture.
            bar.window->RaiseToTop(bar.window);
            status.clear();
        }
        int code = smpoutd_stub_last_code();
        std::string s = "mode " + (code < 0 ? std::string("-") : std::to_string(code)) +
                        (picture ? "  picture on" : "  picture OFF") +
                        (kvn_get_standby_mode() ? "  STANDBY" : "") + "  focus " +
                        (now >= 0 ? window_id_str[now] : "none");
        if (s != status) {
            status = s;
            IDirectFBSurface *b = bar.surface;
            b->SetColor(b, 0, 0, 0, 0xc0);
            b->FillRectangle(b, 0, 0, bar.w, bar.h);
            b->SetColor(b, 0x80, 0xff, 0x80, 0xff);
            text_at(b, g_font, s, 12, 6);
            b->Flip(b, nullptr, DSFLIP_NONE);
        }
        {
            std::lock_guard<std::mutex> dl(g_dialog.mutex);
            if (!g_dialog.notice.empty() && now_ms() >= g_dialog.notice_until) {
                g_dialog.notice.clear();
                draw_dialog_locked();
            }
        }
    }

    void start() {
        // The user-interface application's end of the reply FIFO; kept open
        // for reading and writing so the library's blocking open never waits.
        unlink("/tmp/tolu_cgi");
        if (mkfifo("/tmp/tolu_cgi", 0666) == 0) tolu_fd = open("/tmp/tolu_cgi", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        black.create(0, 0, g_screen_w, g_screen_h);
        black.surface->Clear(black.surface, 0, 0, 0, 0xff);
        black.surface->Flip(black.surface, nullptr, DSFLIP_NONE);
        bar.create(0, 0, g_screen_w, 40);
        bar.show(true);
        thread = std::thread([this] {
            while (running) {
                pass();
                usleep(20000);
            }
        });
    }
    void stop() {
        running = false;
        if (thread.joinable()) thread.join();
        pass();
        bar.release();
        black.release();
        if (tolu_fd >= 0) close(tolu_fd);
    }
} g_watcher;

// ------------------------------------------------------------------ screenshots

bool write_png_file(const std::string &path, int w, int h, const std::vector<uint8_t> &rgb) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) png_write_row(png, const_cast<uint8_t *>(&rgb[(size_t)y * w * 3]));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return fclose(f) == 0;
}

bool take_shot(const std::string &dir, const std::string &name, std::string &error) {
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    IDirectFBSurface *surface = nullptr;
    if (layer->GetSurface(layer, &surface) != DFB_OK) {
        error = "cannot get the layer surface";
        return false;
    }
    int w = 0, h = 0;
    DFBSurfacePixelFormat format = DSPF_UNKNOWN;
    surface->GetSize(surface, &w, &h);
    surface->GetPixelFormat(surface, &format);
    void *data = nullptr;
    int pitch = 0;
    if (surface->Lock(surface, DSLF_READ, &data, &pitch) != DFB_OK) {
        surface->Release(surface);
        error = "cannot lock the layer surface";
        return false;
    }
    std::vector<uint8_t> rgb((size_t)w * h * 3);
    bool known = true;
    for (int y = 0; y < h && known; ++y) {
        const uint8_t *row = (const uint8_t *)data + (size_t)y * pitch;
        for (int x = 0; x < w; ++x) {
            uint8_t *out = &rgb[((size_t)y * w + x) * 3];
            if (format == DSPF_ARGB || format == DSPF_RGB32 || format == DSPF_AiRGB) {
                uint32_t p;
                memcpy(&p, row + x * 4, 4);
                out[0] = p >> 16, out[1] = p >> 8, out[2] = p;
            } else if (format == DSPF_RGB24) {
                out[0] = row[x * 3 + 2], out[1] = row[x * 3 + 1], out[2] = row[x * 3];
            } else if (format == DSPF_RGB16) {
                uint16_t p;
                memcpy(&p, row + x * 2, 2);
                out[0] = ((p >> 11) & 0x1f) << 3, out[1] = ((p >> 5) & 0x3f) << 2, out[2] = (p & 0x1f) << 3;
            } else {
                known = false;
                break;
            }
        }
    }
    surface->Unlock(surface);
    surface->Release(surface);
    if (!known) {
        error = "layer pixel format not supported for screenshots";
        return false;
    }
    std::string path = dir + "/" + name + ".png";
    if (!write_png_file(path, w, h, rgb)) {
        error = "cannot write " + path;
        return false;
    }
    say("  saved " + path);
    return true;
}

// ------------------------------------------------------------------ commands

struct Runner {
    Options options;
    std::vector<std::string> trace_seen;

    void deliver_key(DFBInputDeviceKeySymbol key) {
        // In standby the player's input driver feeds the standby's own input
        // buffer, not a window.
        if (input_driver_post_key(key)) {
            say("  -> standby input buffer");
            return;
        }
        kvn_window *focused = get_window_on_focus();
        if (focused == nullptr) {
            say("  (no window has the focus: key dropped)");
            return;
        }
        DFBEvent e;
        memset(&e, 0, sizeof e);
        e.window.clazz = DFEC_WINDOW;
        e.window.type = DWET_KEYDOWN;
        e.window.key_symbol = key;
        focused->events->PostEvent(focused->events, &e);
    }

    // 0 to go on, 1 for a failed expectation, 3 for a failure to act, -1 to quit.
    int run(const Command &c) {
        std::string error;
        switch (c.kind) {
        case CommandKind::Key: deliver_key(c.key); return 0;
        case CommandKind::Wait: {
            long long us = (long long)c.milliseconds * 1000 / options.divisor;
            std::this_thread::sleep_for(std::chrono::microseconds(us));
            return 0;
        }
        case CommandKind::Shot:
            if (!take_shot(options.shots, c.text, error)) {
                fprintf(stderr, "korvan-sim: line %d: %s\n", c.line, error.c_str());
                return 3;
            }
            return 0;
        case CommandKind::Pipe: {
            int fd = open("/tmp/display", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            std::string line = c.text + "\n";
            if (fd < 0 || write(fd, line.data(), line.size()) != (ssize_t)line.size()) {
                fprintf(stderr, "korvan-sim: line %d: cannot write /tmp/display: %s\n", c.line, strerror(errno));
                if (fd >= 0) close(fd);
                return 3;
            }
            close(fd);
            return 0;
        }
        case CommandKind::File: {
            std::ofstream out(c.path, std::ios::binary | std::ios::trunc);
            out << c.text << "\n";
            if (!out.flush()) {
                fprintf(stderr, "korvan-sim: line %d: cannot write %s\n", c.line, c.path.c_str());
                return 3;
            }
            return 0;
        }
        case CommandKind::Focus:
            if (focus_on_window(c.window_id) != 0) {
                fprintf(stderr, "korvan-sim: line %d: focus_on_window(%s) failed\n", c.line,
                        window_id_str[c.window_id]);
                return 3;
            }
            return 0;
        case CommandKind::ExpectFile: {
            std::ifstream in(c.path, std::ios::binary);
            if (!in) {
                fprintf(stderr, "korvan-sim: line %d: expected %s to hold \"%s\", but it does not exist\n", c.line,
                        c.path.c_str(), c.text.c_str());
                return 1;
            }
            std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::string compared = content;
            if (!compared.empty() && compared.back() == '\n') compared.pop_back();
            if (compared != c.text) {
                fprintf(stderr, "korvan-sim: line %d: expected %s to hold \"%s\", it holds \"%s\"\n", c.line,
                        c.path.c_str(), c.text.c_str(), compared.c_str());
                return 1;
            }
            say("  ok: " + c.path + " holds \"" + c.text + "\"");
            return 0;
        }
        case CommandKind::ExpectTrace: {
            g_watcher.pass();
            std::regex pattern(c.text, std::regex::extended);
            char line[2048];
            for (size_t i = 0, n = kvn_trace_count(); i < n; ++i) {
                if (kvn_trace_get(i, line, sizeof line) < 0) continue;
                if (std::regex_search(line, pattern)) {
                    say(std::string("  ok: trace has \"") + line + "\"");
                    return 0;
                }
            }
            fprintf(stderr, "korvan-sim: line %d: no trace line so far matches \"%s\"\n", c.line, c.text.c_str());
            return 1;
        }
        case CommandKind::Quit: return -1;
        }
        return 0;
    }
};

void trace_listener(const char *line, void *) { say(std::string("  | ") + line); }

void stop_players(void *) { say("  (media players stopped)"); }

std::string describe(const std::string &raw) {
    std::string t = raw;
    while (!t.empty() && (t.back() == '\r' || t.back() == '\n')) t.pop_back();
    return t;
}

}  // namespace

int main(int argc, char **argv) {
    Options options = parse_options(argc, argv);
    std::vector<Command> script;
    std::string script_text;
    if (!options.script.empty()) {
        std::ifstream in(options.script);
        if (!in) {
            fprintf(stderr, "korvan-sim: cannot read %s\n", options.script.c_str());
            return 2;
        }
        script_text.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string error;
        if (!parse_script(script_text, script, error)) {
            fprintf(stderr, "korvan-sim: %s: %s\n", options.script.c_str(), error.c_str());
            return 2;
        }
    }
    enter_sandbox(argc, argv, options);
    g_quiet = options.quiet;
    signal(SIGPIPE, SIG_IGN);

    kvn_set_time_divisor(options.divisor);
    if (!options.trace.empty()) {
        unlink(options.trace.c_str());
        kvn_trace_set_file(options.trace.c_str());
    }
    kvn_trace_set_listener(trace_listener, nullptr);
    host_stub_on_playlist_stop(stop_players, nullptr);
    host_stub_on_force_stop_pod(stop_players, nullptr);

    // The dummy system's layer is tiny unless told the player's screen size.
    std::string dfbargs = getenv("DFBARGS") ? getenv("DFBARGS") : "system=dummy,no-vt,quiet,no-cursor";
    if (dfbargs.find("mode=") == std::string::npos) dfbargs += ",mode=1280x720";
    setenv("DFBARGS", dfbargs.c_str(), 1);

    char *dfb_argv0 = argv[0];
    char *dfb_argv_store[] = {dfb_argv0, nullptr};
    int dfb_argc = 1;
    char **dfb_argv = dfb_argv_store;
    kvn_dfb_init(&dfb_argc, &dfb_argv, &kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_screen);
    input_driver_attach(kvn_dfb_global_context.kvn_dfb);
    kvn_layer_osd_init(kvn_dfb_global_context.kvn_dfb, &kvn_dfb_global_context.kvn_layer_osd,
                       &kvn_dfb_global_context.kvn_layer_osd_config, nullptr, nullptr);
    // The background layer needs the player's screen mixer, which the dummy
    // system lacks: its start-up would end the process, so it is left out.
    g_screen_w = kvn_dfb_global_context.kvn_layer_osd_config.width;
    g_screen_h = kvn_dfb_global_context.kvn_layer_osd_config.height;
    if (g_screen_w <= 0 || g_screen_h <= 0) g_screen_w = 1280, g_screen_h = 720;

    IDirectFB *dfb = kvn_dfb_global_context.kvn_dfb;
    DFBFontDescription fd;
    memset(&fd, 0, sizeof fd);
    fd.flags = DFDESC_HEIGHT;
    fd.height = 48;
    if (dfb->CreateFont(dfb, kFont, &fd, &g_font_big) != DFB_OK) {
        fprintf(stderr, "korvan-sim: cannot load the font %s\n", kFont);
        return 3;
    }
    fd.height = 24;
    dfb->CreateFont(dfb, kFont, &fd, &g_font);

    g_dialog.overlay.create(g_screen_w / 2 - 320, g_screen_h / 2 - 200, 640, 400);
    osd_service_set_renderer(osd_renderer, nullptr);

    for (size_t i = 0; i < sizeof kApps / sizeof kApps[0]; ++i) {
        SimApp &app = g_apps[i];
        app.id = kApps[i];
        kvn_window &r = app.record;
        memset(&r, 0, sizeof r);
        r.window_id = app.id;
        r.active = 1;
        r.hide_others = 1;
        r.opacity = 0xff;
        r.osd_id = 100 + app.id;
        r.focus_on_window_callback = func_default_focus_on_window_callback;
        r.focus_next_window_callback = func_default_focus_next_window_callback;
        DFBWindowDescription desc;
        kvn_create_window_surface_events(&r, &desc, 0, 0, g_screen_w, g_screen_h, DWCAPS_NONE, 0);
        register_window(&r);
    }
    g_watcher.start();
    for (auto &app : g_apps) app.thread = std::thread([&app] { app.loop(); });
    focus_on_window(BROWSER);
    g_watcher.pass();

    int status = 0;
    Runner runner;
    runner.options = options;
    if (!options.script.empty()) {
        std::vector<std::string> lines = split(script_text, '\n');
        for (const Command &c : script) {
            say("[" + std::to_string(c.line) + "] " + describe(lines[c.line - 1]));
            int r = runner.run(c);
            if (r == -1) break;
            if (r != 0) {
                status = r;
                break;
            }
        }
    } else {
        std::string raw;
        int number = 0;
        while (std::getline(std::cin, raw)) {
            ++number;
            Command c;
            std::string error;
            ParseResult p = parse_line(raw, number, c, error);
            if (p == ParseResult::Empty) continue;
            if (p == ParseResult::Error) {
                fprintf(stderr, "korvan-sim: line %d: %s\n", number, error.c_str());
                continue;
            }
            int r = runner.run(c);
            if (r == -1) break;
            if (r == 1) status = 1;
        }
    }

    // A standby still waiting would keep FLASH_LITE's thread: wake it.
    if (input_driver_has_reader()) {
        say("  (waking the player from standby before leaving)");
        runner.deliver_key(DIKS_POWER);
    }
    for (auto &app : g_apps) {
        app.running = false;
        app.record.events->WakeUp(app.record.events);
    }
    for (auto &app : g_apps)
        if (app.thread.joinable()) app.thread.join();
    g_watcher.stop();
    osd_service_set_renderer(nullptr, nullptr);
    kvn_trace_set_listener(nullptr, nullptr);
    for (auto &app : g_apps) {
        unregister_window(&app.record);
        kvn_window_clean_up(&app.record);
    }
    g_dialog.overlay.release();
    if (g_font) g_font->Release(g_font);
    if (g_font_big) g_font_big->Release(g_font_big);
    kvn_clean_up();
    say(status == 0 ? "korvan-sim: done, every expectation met" : "korvan-sim: stopped on a failure");
    return status;
}
