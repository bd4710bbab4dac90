#include "live_window.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <utility>

#include "keyboard_map.h"
#include "messages.h"
#include "player_link.h"
#include "stop_signal.h"

namespace kvn_sim {
namespace {

SDL_Window *g_window = nullptr;
SDL_Renderer *g_renderer = nullptr;
Uint32 g_channel_event = 0;  // SDL user events: the channel's messages
enum ChannelEvent { kScreenCame = 1, kFrameCame, kChannelEnded };

// A window destroyed from outside (by some window managers, or `xdotool
// windowclose`) turns every later call on it into an X error, which Xlib's
// default handler answers by ending the process: the player inside would
// lose its launcher instead of stopping in order.  Errors about the window,
// and every error once it is gone, are expected; the rest go on as before.
Display *g_x_display = nullptr;
Window g_x_window = 0;
std::atomic<bool> g_window_gone{false};  // SDL's wake-ups may meet the error elsewhere
XErrorHandler g_x_errors = nullptr;

int on_x_error(Display *display, XErrorEvent *e) {
    if (g_window_gone || (g_x_window != 0 && e->resourceid == g_x_window)) {
        g_window_gone = true;
        return 0;
    }
    return g_x_errors != nullptr ? g_x_errors(display, e) : 0;
}

void follow_x_window() {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(g_window, &info) || info.subsystem != SDL_SYSWM_X11) return;
    g_x_display = info.info.x11.display;
    g_x_window = info.info.x11.window;
    g_x_errors = XSetErrorHandler(on_x_error);
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
}

bool destroyed_event(const SDL_Event &e) {
    if (e.type != SDL_SYSWMEVENT || e.syswm.msg->subsystem != SDL_SYSWM_X11) return false;
    const XEvent &x = e.syswm.msg->msg.x11.event;
    return x.type == DestroyNotify && x.xdestroywindow.window == g_x_window;
}

SDL_Texture *texture_of(const Picture &p, bool blended);

struct Shown {
    const SharedScreen *screen = nullptr;
    SDL_Texture *frame = nullptr, *help = nullptr;
    bool help_shown = false;
    Picture picture, before;  // the frame shown, and the one before it
};

// The rows [first, end) in which two pictures of one size differ.
void changed_rows(const Picture &a, const Picture &b, int &first, int &end) {
    size_t row = static_cast<size_t>(a.width) * sizeof a.pixels[0];
    auto differs = [&](int y) {
        return memcmp(&a.pixels[static_cast<size_t>(y) * a.width],
                      &b.pixels[static_cast<size_t>(y) * b.width], row) != 0;
    };
    for (first = 0; first < a.height && !differs(first);) ++first;
    for (end = a.height; end > first && !differs(end - 1);) --end;
}

// Takes the newest frame into the texture: only the rows that changed, as
// a key changes a few of them and the upload of a whole screen takes
// milliseconds.  False when there is nothing new to show.
bool take_frame(Shown &view) {
    std::swap(view.before, view.picture);
    if (!view.screen->latest(view.picture)) {
        std::swap(view.before, view.picture);
        return false;
    }
    const Picture &p = view.picture;
    if (view.frame == nullptr || p.width != view.before.width || p.height != view.before.height) {
        if (view.frame != nullptr) SDL_DestroyTexture(view.frame);
        view.frame = texture_of(p, false);
        return true;
    }
    int first = 0, end = 0;
    changed_rows(view.before, p, first, end);
    if (first == end) return false;
    SDL_Rect rows = {0, first, p.width, end - first};
    SDL_UpdateTexture(view.frame, &rows, &p.pixels[static_cast<size_t>(first) * p.width],
                      p.width * 4);
    return true;
}

void post(int code) {
    SDL_Event e;
    SDL_zero(e);
    e.type = g_channel_event;
    e.user.code = code;
    SDL_PushEvent(&e);
}

// Hands the player's news to the window's loop as SDL events; frames that
// come faster than they are shown are folded into one.
struct News : PlayerLink::View {
    std::atomic<bool> frame_pending{false};
    void screen_came() override { post(kScreenCame); }
    void frame_came() override {
        if (!frame_pending.exchange(true)) post(kFrameCame);
    }
    void channel_ended() override { post(kChannelEnded); }
};

SDL_Texture *texture_of(const Picture &p, bool blended) {
    if (p.width <= 0 || p.height <= 0) return nullptr;
    SDL_Texture *t =
        SDL_CreateTexture(g_renderer, blended ? SDL_PIXELFORMAT_ARGB8888 : SDL_PIXELFORMAT_RGB888,
                          SDL_TEXTUREACCESS_STREAMING, p.width, p.height);
    if (t != nullptr) {
        SDL_UpdateTexture(t, nullptr, p.pixels.data(), p.width * 4);
        if (blended) SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    }
    return t;
}

// The player's 16:9 picture scaled to the window, with bars as needed.
void present(Shown &view) {
    if (g_window_gone) return;
    SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
    SDL_RenderClear(g_renderer);
    int w = 0, h = 0;
    SDL_GetRendererOutputSize(g_renderer, &w, &h);
    if (view.frame != nullptr) {
        int pw = view.picture.width, ph = view.picture.height;
        SDL_Rect to = {0, 0, w, h};
        if (static_cast<long>(w) * ph > static_cast<long>(h) * pw)
            to.w = h * pw / ph;
        else
            to.h = w * ph / pw;
        to.x = (w - to.w) / 2;
        to.y = (h - to.h) / 2;
        SDL_RenderCopy(g_renderer, view.frame, nullptr, &to);
        if (view.help_shown && view.help != nullptr) {
            int hw = 0, hh = 0;
            SDL_QueryTexture(view.help, nullptr, nullptr, &hw, &hh);
            SDL_Rect panel = {to.x + (to.w - hw * to.w / pw) / 2,
                              to.y + (to.h - hh * to.h / ph) / 2, hw * to.w / pw, hh * to.h / ph};
            SDL_RenderCopy(g_renderer, view.help, nullptr, &panel);
        }
    }
    SDL_RenderPresent(g_renderer);
}

bool is_help_key(const SDL_Keysym &k) {
    return k.sym == SDLK_F1 || k.sym == SDLK_QUESTION ||
           (k.sym == SDLK_SLASH && (k.mod & KMOD_SHIFT));
}

}  // namespace

bool open_live_window(std::string &error) {
    // The launcher takes its signals itself and passes them on in order.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        error = std::string("cannot open a window: ") + SDL_GetError();
        return false;
    }
    g_channel_event = SDL_RegisterEvents(1);
    // An OpenGL window from the start: SDL's OpenGL renderer would otherwise
    // destroy the window and make it again, and whoever looks for it just
    // then (xdotool in the tests) finds a window that is gone.
    const char *title = "korvan-sim: the player (? for the keys)";
    for (Uint32 flags :
         {Uint32{SDL_WINDOW_RESIZABLE | SDL_WINDOW_OPENGL}, Uint32{SDL_WINDOW_RESIZABLE}}) {
        g_window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 1280,
                                    720, flags);
        if (g_window != nullptr) break;
    }
    if (g_window != nullptr) g_renderer = SDL_CreateRenderer(g_window, -1, 0);
    if (g_window != nullptr && g_renderer == nullptr)
        g_renderer = SDL_CreateRenderer(g_window, -1, SDL_RENDERER_SOFTWARE);
    if (g_renderer == nullptr) {
        error = std::string("cannot open a window: ") + SDL_GetError();
        if (g_window != nullptr) SDL_DestroyWindow(g_window);
        SDL_Quit();
        return false;
    }
    SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
    SDL_RenderClear(g_renderer);
    SDL_RenderPresent(g_renderer);
    follow_x_window();
    return true;
}

void run_live_window(PlayerLink &link) {
    Shown view;
    News news;
    link.add_view(&news);
    int shots = 0;
    SDL_Event e;
    for (bool open = true; open;) {
        // SDL wakes a waiting loop through the window, so a destroyed one
        // would leave the channel's end unseen: look at the queue anyway.
        if (!SDL_WaitEventTimeout(&e, 100)) continue;
        if (destroyed_event(e)) g_window_gone = true;
        // Gone without a close: as a close, without the window's last calls.
        if (g_window_gone && !stop_requested()) request_stop(0);
        if (e.type == g_channel_event) {
            if (e.user.code == kChannelEnded) {
                open = false;
            } else if (e.user.code == kScreenCame && view.screen == nullptr) {
                view.screen = link.screen();
                view.help = texture_of(view.screen->help(), true);
            } else if (e.user.code == kFrameCame && view.screen != nullptr) {
                news.frame_pending = false;
                if (!take_frame(view)) continue;
                present(view);
            }
        } else if (e.type == SDL_QUIT) {
            // Closing the window ends the player in order; the window goes now.
            request_stop(0);
            if (!g_window_gone) SDL_HideWindow(g_window);
        } else if (e.type == SDL_WINDOWEVENT) {
            present(view);
        } else if (e.type == SDL_KEYDOWN && !stop_requested()) {
            const SDL_Keysym &k = e.key.keysym;
            if (is_help_key(k) || (k.sym == SDLK_ESCAPE && view.help_shown)) {
                view.help_shown = k.sym != SDLK_ESCAPE && !view.help_shown;
                present(view);
            } else if (k.sym == SDLK_F12 && !e.key.repeat) {
                char name[32];
                snprintf(name, sizeof name, "window-%03d", ++shots);
                link.shot(name);
            } else if (const KeyboardKey *key = remote_key_for_press(k.sym, e.key.repeat)) {
                link.press(key->remote);
            }
        }
    }
    link.remove_view(&news);
    // A window destroyed from outside is left as it is: SDL's teardown puts
    // Xlib's default handler back before its wake-up connection reports the
    // errors of the window's last calls, and that handler ends the process.
    // The connections close with the process, which ends right after.
    if (g_window_gone) return;
    if (view.frame) SDL_DestroyTexture(view.frame);
    if (view.help) SDL_DestroyTexture(view.help);
    SDL_DestroyRenderer(g_renderer);
    SDL_DestroyWindow(g_window);
    // SDL_Quit puts the previous error handler back before its last sync:
    // the errors of destroying a window already gone must come in first.
    if (g_x_display != nullptr) XSync(g_x_display, False);
    SDL_Quit();
}

}  // namespace kvn_sim
